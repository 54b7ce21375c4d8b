#include "price_windows/export/export_commands.h"

#include <QAction>
#include <QFileInfo>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QIcon>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QStyle>

#include <algorithm>

#include "platform/messagebox/messagebox.h"
#include "price_tools/export/csv_export.h"
#include "price_tools/export/grid_pages.h"
#include "price_tools/export/xlsx_export.h"
#include "price_windows/progress/wait_cursor.h"

namespace price_windows {

namespace ex = price_tools::exporting;

namespace {

QString qs(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

SaveFileQuestion& question() {
  static SaveFileQuestion q;
  return q;
}

int& progressShownAfter() {
  static int ms = 500;
  return ms;
}

QString proposedPath(const ex::ExportTitle& title, const std::string& extension) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty()) folder = QDir::homePath();
  return QDir(folder).filePath(qs(ex::proposedFileName(title, extension)));
}

}  // namespace

QString askSaveFile(QWidget* parent, const QString& caption, const QString& proposed, const QStringList& filters,
                    QString* chosen) {
  if (question()) return question()(parent, caption, proposed, filters, chosen);
  return QFileDialog::getSaveFileName(parent, caption, proposed, filters.join(";;"), chosen);
}

QString withExtension(QString path, const QString& extension) {
  if (!path.endsWith(extension, Qt::CaseInsensitive)) {
    if (path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive) || path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive))
      path = path.left(path.lastIndexOf('.'));
    path += extension;
  }
  return path;
}

// Runs an export under a progress dialog that shows after half a second and
// offers 取消; reports a failure.
bool exportWithProgress(QWidget* parent, const QString& what,
                        const std::function<ex::ExportResult(const ex::Progress&)>& run) {
  QProgressDialog progress(what, QStringLiteral("取消"), 0, 100, parent);
  progress.setWindowTitle(QStringLiteral("导出"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(progressShownAfter());
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  const ex::ExportResult result = [&] {
    const WaitCursor busy;
    return run([&](long done, long total) {
      progress.setMaximum(static_cast<int>(std::max(1L, total)));
      progress.setValue(static_cast<int>(done));
      QCoreApplication::processEvents();
      return !progress.wasCanceled();
    });
  }();
  progress.close();
  if (result.status == ex::ExportResult::Failed) platform::MsgBox("导出失败：" + result.error);
  return result.ok();
}

int setProgressShownAfter(int ms) {
  const int old = progressShownAfter();
  progressShownAfter() = ms;
  return old;
}

SaveFileQuestion setSaveFileQuestion(SaveFileQuestion q) {
  SaveFileQuestion old = std::move(question());
  question() = std::move(q);
  return old;
}

QStringList exportFilters() {
  return {QStringLiteral("Excel 工作簿 (*.xlsx)"), QStringLiteral("CSV UTF-8，数值按显示 (*.csv)"),
          QStringLiteral("CSV UTF-8，数值不带格式 (*.csv)"), QStringLiteral("CSV GBK，数值按显示 (*.csv)"),
          QStringLiteral("CSV GBK，数值不带格式 (*.csv)")};
}

bool exportGrid(QWidget* parent, const platform::VSFlexGrid& grid, const ex::ExportTitle& title) {
  const QStringList filters = exportFilters();
  QString filter = filters.front();
  QString path = askSaveFile(parent, QString::fromUtf8(kExportExcelText), proposedPath(title, "xlsx"), filters, &filter);
  if (path.isEmpty()) return false;
  const int kind = std::max<qsizetype>(0, filters.indexOf(filter));
  const QString extension = kind == 0 ? QStringLiteral(".xlsx") : QStringLiteral(".csv");
  path = withExtension(path, extension);
  const std::string file = path.toStdString();
  return exportWithProgress(parent, QStringLiteral("正在导出 %1 …").arg(QFileInfo(path).fileName()),
                      [&](const ex::Progress& progress) {
                        if (kind == 0) return ex::writeXlsx(grid, title, file, progress);
                        ex::CsvOptions options;
                        options.encoding = kind >= 3 ? ex::CsvOptions::Gbk : ex::CsvOptions::Utf8Bom;
                        options.numbersAsShown = kind == 1 || kind == 3;
                        return ex::writeCsv(grid, options, file, progress);
                      });
}

bool exportGridPdf(QWidget* parent, const platform::VSFlexGrid& grid, const ex::ExportTitle& title) {
  QString filter = QStringLiteral("PDF (*.pdf)");
  QString path = askSaveFile(parent, QString::fromUtf8(kExportPdfText), proposedPath(title, "pdf"), {filter}, &filter);
  if (path.isEmpty()) return false;
  if (!path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) path += QStringLiteral(".pdf");
  const std::string file = path.toStdString();
  return exportWithProgress(parent, QStringLiteral("正在导出 %1 …").arg(QFileInfo(path).fileName()),
                      [&](const ex::Progress& progress) { return ex::writePdf(grid, title, file, progress); });
}

void previewGrid(QWidget* parent, const platform::VSFlexGrid& grid, const ex::ExportTitle& title) {
  const ex::GridPages pages(grid, title);
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(qs(ex::titleLine(title)));
  printer.setPageLayout(pages.pageLayout(printer.pageLayout().pageSize()));
  QPrintPreviewDialog dialog(&printer, parent);
  dialog.setWindowTitle(QString::fromUtf8(kPrintPreviewText));
  QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                   [&](QPrinter* p) { pages.paint(*p, p->pageLayout()); });
  dialog.resize(1000, 800);
  dialog.exec();
}

}  // namespace price_windows
