// The export commands on the main window's band: the buttons, the save
// question with its proposed name, the files written, the print preview, the
// pinyin field of the search combo and 复制 on the product grid's menu.
#include "band_window.h"

#include "common/cp936.h"
#include "data/connections.h"
#include "main_window/frmeq.h"
#include "platform/browser/recording_browser.h"
#include "platform/grid/gridview.h"
#include "platform/messagebox/messagebox.h"
#include "price_windows/band/command_band.h"
#include "price_windows/export/export_commands.h"
#include "price_tools/pinyin/pinyin_search.h"
#include "programs/velmora/frmeq_host.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QDir>
#include <QFile>
#include <QPrintPreviewDialog>
#include <QProgressDialog>
#include <QTimer>
#include <QToolButton>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <regex>

namespace {


struct Window : price_windows_test::StandardWindow {
  price_windows::CommandBand* band = nullptr;
  Window() {
    price_tools::pinyin::registerInitialsSearch();
    EXPECT_TRUE(w->Form_Load());
    band = price_windows::attachCommandBand(velmora::FrmeqHost::of(*w));
    w->resize(1400, 900);
    w->show();
    QCoreApplication::processEvents();
  }
  ~Window() { price_windows::setSaveFileQuestion({}); }
  QAction* command(const char* text) {
    for (QAction* a : band->actions())
      if (a->text() == QString::fromUtf8(text)) return a;
    return nullptr;
  }
  void shoot(QWidget* widget, const char* name) {
    const QByteArray dir = qgetenv("VELMORA_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(QString::fromLocal8Bit(dir));
    widget->grab().save(QString::fromLocal8Bit(dir) + "/" + name);
  }
};

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[65536];
  size_t n;
  while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (p) pclose(p);
  return out;
}

}  // namespace

TEST(ExportCommands, ExcelCsvAndPdfOfWhatTheProductGridShows) {
  Window win;
  ASSERT_NE(win.command(price_windows::kExportExcelText), nullptr);
  ASSERT_NE(win.command(price_windows::kPrintPreviewText), nullptr);
  ASSERT_NE(win.command(price_windows::kExportPdfText), nullptr);
  win.clickCategory("12");
  ASSERT_GT(win.w->Grid1(1).Rows(), 3);
  win.shoot(win.w.get(), "export-band.png");

  // The question proposes "<library> <what is shown>.xlsx"; the answer has no
  // extension, the filter chosen adds it.
  QString proposed;
  QStringList offered;
  int answer = 0;
  const std::string out = win.folder.file("导出");
  price_windows::setSaveFileQuestion(
      [&](QWidget*, const QString&, const QString& p, const QStringList& filters, QString* chosen) {
        proposed = p;
        offered = filters;
        *chosen = filters[answer];
        return QString::fromStdString(out);
      });
  win.command(price_windows::kExportExcelText)->trigger();
  EXPECT_TRUE(proposed.endsWith(QString::fromUtf8("/2026年12月信息价 全部材料-钢材-螺纹钢.xlsx"))) << proposed.toStdString();
  EXPECT_EQ(offered, price_windows::exportFilters());
  ASSERT_TRUE(QFile::exists(QString::fromStdString(out + ".xlsx")));
  const std::string sheet = run("unzip -p '" + out + ".xlsx' xl/worksheets/sheet1.xml");
  EXPECT_NE(sheet.find("2026年12月信息价  全部材料 &gt; 钢材 &gt; 螺纹钢  "), std::string::npos) << sheet;
  EXPECT_NE(sheet.find(win.w->Grid1(1).TextMatrix(3, 1)), std::string::npos);

  answer = 3;  // GBK, numbers as shown
  win.command(price_windows::kExportExcelText)->trigger();
  QFile csv(QString::fromStdString(out + ".csv"));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  const QByteArray bytes = csv.readAll();
  EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
  EXPECT_TRUE(bytes.contains(QByteArray::fromStdString(common::toCp936("螺纹钢 HRB400")))) << "in code page 936";

  // PDF: the same pages as the preview.
  price_windows::setSaveFileQuestion([&](QWidget*, const QString&, const QString& p, const QStringList&, QString*) {
    proposed = p;
    return QString::fromStdString(out);
  });
  win.command(price_windows::kExportPdfText)->trigger();
  EXPECT_TRUE(proposed.endsWith(QString::fromUtf8("螺纹钢.pdf")));
  const std::string text = run("pdftotext -layout '" + out + ".pdf' -");
  EXPECT_NE(text.find("螺纹钢"), std::string::npos) << text;
  // (pdftotext reads the CJK font's 页 glyph as the radical ⻚ at times.)
  EXPECT_TRUE(std::regex_search(text, std::regex("第 ?1 ?(页|⻚) ?/ ?共 ?1 ?(页|⻚)"))) << text;

  // A file that cannot be written is reported, and nothing is left.
  platform::MessageBoxRecorder boxes;
  price_windows::setSaveFileQuestion([&](QWidget*, const QString&, const QString&, const QStringList&, QString* c) {
    *c = price_windows::exportFilters()[0];
    return QString::fromStdString(win.folder.file("no/such/folder/x.xlsx"));
  });
  win.command(price_windows::kExportExcelText)->trigger();
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text.rfind("导出失败：", 0), 0u) << boxes.boxes()[0].text;
}

TEST(ExportCommands, PrintPreviewShowsThePages) {
  Window win;
  win.clickCategory("12");
  bool shown = false;
  QTimer::singleShot(300, [&] {
    auto* dialog = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    shown = true;
    win.shoot(dialog, "export-print-preview.png");
    dialog->reject();
  });
  win.command(price_windows::kPrintPreviewText)->trigger();
  EXPECT_TRUE(shown);
}

TEST(ExportCommands, PinyinFieldSearchesAndCopyIsOnTheProductMenu) {
  Window win;
  platform::Tool* comfind = win.w->ActiveBar31()->Tools("comfind");
  EXPECT_EQ(comfind->items(), (std::vector<std::string>{"产品名称", "生产厂家", "拼音简码"}));
  comfind->choose("拼音简码");
  win.w->ActiveBar31()->Tools("comfw")->setText("lwg");
  win.w->ActiveBar31()->Tools("Toolfind")->click();
  const platform::VSFlexGrid& g = win.w->Grid1(1);
  ASSERT_GT(g.Rows(), 3);
  for (int r = 3; r < g.Rows(); ++r) EXPECT_NE(g.TextMatrix(r, 1).find("螺纹钢"), std::string::npos) << r;
  win.shoot(win.w.get(), "export-pinyin-search.png");

  bool seen = false;
  QTimer::singleShot(50, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    seen = menu->actions().contains(win.w->Grid1View(1)->copyAction());
    menu->close();
  });
  platform::GridView* view = win.w->Grid1View(1);
  const QPoint at = view->cellRect(3, 1).center();
  QContextMenuEvent ev(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
  QApplication::sendEvent(view->viewport(), &ev);
  EXPECT_TRUE(seen);
}

TEST(ExportCommands, ALongExportShowsProgressAndItsCancelLeavesNoFile) {
  Window win;
  win.clickCategory("12");
  platform::VSFlexGrid& g = win.w->Grid1(1);
  {
    platform::GridBatch batch(g);
    const int first = g.Rows();
    g.setRows(first + 150000);
    for (int r = first; r < g.Rows(); ++r) {
      g.setTextMatrix(r, 1, "螺纹钢 规格" + std::to_string(r));
      g.setTextMatrix(r, 2, "鞍钢股份");
    }
  }
  const std::string out = win.folder.file("长.xlsx");
  price_windows::setSaveFileQuestion([&](QWidget*, const QString&, const QString&, const QStringList& f, QString* c) {
    *c = f[0];
    return QString::fromStdString(out);
  });
  // The dialog shows from the first row, so the cancel never races the export.
  const int shownAfter = price_windows::setProgressShownAfter(0);
  bool cancelled = false;
  std::function<void()> poll = [&] {
    auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
    if (!progress || !progress->isVisible()) {
      QTimer::singleShot(5, poll);
      return;
    }
    win.shoot(progress, "export-progress.png");
    progress->cancel();
    cancelled = true;
  };
  QTimer::singleShot(5, poll);
  win.command(price_windows::kExportExcelText)->trigger();
  price_windows::setProgressShownAfter(shownAfter);
  EXPECT_TRUE(cancelled);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(out)));
  EXPECT_EQ(QDir(QString::fromStdString(win.folder.path())).entryList({"*.part-*"}).size(), 0);
}

// The save question answered with the program's own files or with things that
// are not files: each export is refused with a message, and they are as they
// were. (The question's answer keeps its extension when it has the filter's.)
TEST(ExportCommands, TheSaveQuestionNeverLeadsOverALibraryTheProjectDatabaseOrAFifo) {
  Window win;
  win.clickCategory("12");
  const std::string library = win.folder.file("2026年12月信息价.zdj");
  QFile libraryFile(QString::fromStdString(library));
  ASSERT_TRUE(libraryFile.open(QIODevice::ReadOnly));
  const QByteArray libraryBytes = libraryFile.readAll();
  libraryFile.close();
  std::filesystem::create_symlink(library, win.folder.file("library.xlsx"));
  std::filesystem::create_symlink(win.folder.file("pro.mdb"), win.folder.file("project.pdf"));
  ASSERT_EQ(mkfifo(win.folder.file("pipe.csv").c_str(), 0600), 0);
  struct Answer {
    std::string path;
    int filter;
    QAction* command;
  };
  for (const Answer& a : {Answer{win.folder.file("library.xlsx"), 0, win.command(price_windows::kExportExcelText)},
                          Answer{win.folder.file("pipe.csv"), 1, win.command(price_windows::kExportExcelText)},
                          Answer{win.folder.file("project.pdf"), 0, win.command(price_windows::kExportPdfText)}}) {
    platform::MessageBoxRecorder boxes;
    price_windows::setSaveFileQuestion([&](QWidget*, const QString&, const QString&, const QStringList& f, QString* c) {
      *c = f[a.filter];
      return QString::fromStdString(a.path);
    });
    a.command->trigger();
    ASSERT_EQ(boxes.boxes().size(), 1u) << a.path;
    EXPECT_EQ(boxes.boxes()[0].text.rfind("导出失败：", 0), 0u) << boxes.boxes()[0].text;
  }
  ASSERT_TRUE(libraryFile.open(QIODevice::ReadOnly));
  EXPECT_EQ(libraryFile.readAll(), libraryBytes);
  EXPECT_TRUE(std::filesystem::is_symlink(win.folder.file("library.xlsx")));
  EXPECT_TRUE(std::filesystem::is_symlink(win.folder.file("project.pdf")));
  EXPECT_TRUE(std::filesystem::is_fifo(win.folder.file("pipe.csv")));
  EXPECT_EQ(QDir(QString::fromStdString(win.folder.path())).entryList({"*.part-*"}).size(), 0);
}
