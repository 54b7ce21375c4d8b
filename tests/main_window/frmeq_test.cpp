// The main window's whole flow, offscreen, with recording browsers: start-up,
// navigator clicks and pages, the page check, the toolbar, the online-service
// window, the banner, the layout and the close.
#include "fixture.h"

#include "common/program_folder.h"
#include "data/connections.h"
#include "main_window/frmeq.h"
#include "main_window/frmgy.h"
#include "main_window/mainpro.h"
#include "platform/browser/recording_browser.h"
#include "platform/browser/webbrowser.h"
#include "platform/grid/gridview.h"
#include "platform/messagebox/messagebox.h"
#include "platform/process/process.h"
#include "platform/screen/twips.h"
#include "service_window/frmline.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "support/widgets_app.h"

#include <QApplication>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTest>

using main_window::frmeq;
using platform::MessageBoxRecorder;
using platform::RecordingBrowser;

namespace {

QApplication& app() { return testsupport::widgetsApp(); }

// The window with its hooks recorded.
struct Harness {
  std::vector<std::string> started;
  int ended = 0;
  std::unique_ptr<frmeq> w;

  // realStart: the program's own start of the updater runs after the record.
  explicit Harness(bool listen = false, platform::WebBrowserFactory browsers = platform::recordingBrowserFactory(),
                   bool realStart = false) {
    app();
    data::resetDataModule();
    main_window::FrmeqHooks hooks;
    hooks.browsers = std::move(browsers);
    std::function<void(const std::string&)> start;
    if (realStart) start = main_window::programHooks(hooks.browsers).startHidden;
    hooks.startHidden = [this, start](const std::string& p) {
      started.push_back(p);
      if (start) start(p);
    };
    hooks.endProgram = [this] { ++ended; };
    hooks.exeName = "Velmora";
    hooks.listenForClose = listen;
    w = std::make_unique<frmeq>(hooks);
  }
  ~Harness() {
    w.reset();
    data::resetDataModule();
  }
  RecordingBrowser& page() { return *dynamic_cast<RecordingBrowser*>(w->WebBrowser1()); }
  RecordingBrowser& banner() { return *dynamic_cast<RecordingBrowser*>(w->WebBrowser2()); }
  platform::Tool* tool(const std::string& name) { return w->ActiveBar31()->Tools(name); }
  std::string lastPage() { return page().visits().empty() ? "" : page().visits().back().address; }
  // Makes the row of a grid whose last column holds id current and clicks it.
  void clickId(int grid, const std::string& id) {
    platform::VSFlexGrid& g = w->Grid1(grid);
    for (int r = 3; r < g.Rows(); ++r) {
      if (g.TextMatrix(r, g.Cols() - 1) == id) {
        g.setRow(r);
        g.fireClick();
        return;
      }
    }
    ADD_FAILURE() << "no row with id " << id << " in grid " << grid;
  }
  // Texts of one column of the product rows.
  std::vector<std::string> products(int col = 1) {
    std::vector<std::string> out;
    platform::VSFlexGrid& g = w->Grid1(1);
    for (int r = 3; r < g.Rows(); ++r) out.push_back(g.TextMatrix(r, col));
    return out;
  }
};

// A folder with pro.mdb, the standard library as lib.zdj and page web\a.htm.
void standardFolder(fixture::Folder& f, const std::string& library = "lib.zdj") {
  f.writeProMdb();
  f.writeLibrary(library, fixture::standardLibrary());
  f.writeText("web/Orvanta.htm", "<html><body>默认页</body></html>");
  f.writeText("web/a.htm", "<html><body>螺纹钢价格</body></html>");
}

std::string defaultPage(const fixture::Folder& f) { return f.path() + "/web/Orvanta.htm"; }

}  // namespace

TEST(MainPro, ItemsBecomeLowerCaseSettingsSplitAtTheFirstEqualsSign) {
  using main_window::mainProSettings;
  using main_window::Setting;
  auto s = mainProSettings({"SNAME=Price Guide", "url=abc", "def", "timer=", "fwurl=x=y", "sname = X", ""});
  EXPECT_EQ(s, (std::vector<Setting>{{"sname", "price guide"}, {"url", "abc"}, {"fwurl", "x=y"}, {"sname ", " x"}}));
  std::vector<std::string> many(50, "dw=a");
  many.push_back("tel=51");
  auto first50 = mainProSettings(many);
  EXPECT_EQ(first50.size(), 50u);
  EXPECT_EQ(first50.back().first, "dw");
  EXPECT_EQ(main_window::upperText("price guide 钢"), "PRICE GUIDE 钢");
  EXPECT_EQ(main_window::lowerText("ÄBC"), "äbc");

  EXPECT_EQ(main_window::timerInterval("2000"), 2000);
  EXPECT_EQ(main_window::timerInterval("0"), 0);
  EXPECT_EQ(main_window::timerInterval("65535"), 65535);
  EXPECT_EQ(main_window::timerInterval(" 2000"), 2000) << "timer= 2000";
  EXPECT_EQ(main_window::timerInterval("2000 "), 2000);
  for (const char* bad : {"65536", "-1", "2000.5", "2s", "20 00", "", " ", "99999999999"})
    EXPECT_FALSE(main_window::timerInterval(bad)) << bad;
}

TEST(Startup, ReadsMainProOpensTheLastLibraryAndFillsTheNavigators) {
  fixture::Folder f;
  standardFolder(f, "b.zdj");
  f.writeLibrary("A.zdj", fixture::standardLibrary());
  std::string ini = "SNAME=Price Guide\r\nurl=http://127.0.0.1:9/svc,def\r\n\"fwurl=http://127.0.0.1:9/a,b\"\r\n"
                    "timer=2000\r\ndw=某市造价站\r\ntel=0571-1234\r\nico=nothing.ico\r\n";
  for (int i = 8; i <= 50; ++i) ini += "x=1\r\n";
  ini += "tel=the 51st item\r\n";
  f.writeText("MainPro.ini", ini);
  f.writeBytes("swf/a.swf", "x");
  const platform::MessageBoxRecorder boxes;
  Harness h;
  const QIcon designIcon = h.w->windowIcon();
  ASSERT_TRUE(h.w->Form_Load());

  EXPECT_EQ(h.w->windowTitle().toStdString(), "price guide");
  EXPECT_EQ(platform::applicationTitle(), "PRICE GUIDE");
  EXPECT_EQ(h.w->serviceBase(), "http://127.0.0.1:9/svc");
  EXPECT_EQ(h.w->servicePage(), "http://127.0.0.1:9/a,b");
  EXPECT_EQ(h.w->Timer2Interval(), 2000);
  EXPECT_TRUE(h.w->Timer2Running());
  EXPECT_EQ(h.tool("Tooldw")->caption(), "某市造价站");
  EXPECT_EQ(h.tool("Tooltel")->caption(), "0571-1234");
  EXPECT_EQ(h.w->windowIcon().cacheKey(), designIcon.cacheKey()) << "a missing ico file keeps the icon";

  // b.zdj and A.zdj: listed A then b, b opened.
  EXPECT_EQ(h.tool("comclk")->items(), (std::vector<std::string>{"A", "b"}));
  EXPECT_EQ(h.tool("comclk")->text(), "b");
  EXPECT_EQ(h.w->currentLibrary(), "b");
  EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes().front().text;

  // Navigators filled, product grid laid out but empty, default page, Tag empty.
  EXPECT_EQ(h.w->Grid1(0).Tag(), "Category");
  EXPECT_EQ(h.w->Grid1(0).Rows(), 3 + 5);
  EXPECT_EQ(h.w->Grid1(2).Rows(), 3 + 3);
  EXPECT_EQ(h.w->Grid1(1).Tag(), "CLProduct");
  EXPECT_EQ(h.w->Grid1(1).Rows(), 3);
  EXPECT_EQ(h.page().addresses(), (std::vector<std::string>{defaultPage(f)}));
  EXPECT_EQ(h.w->Tag(), "");
  EXPECT_FALSE(h.w->Timer1()->isActive());
  // The grids sit in their bands, the page view in the inner client area.
  EXPECT_EQ(h.w->ActiveBar31()->Bands("Band2")->ChildBands(0)->Tools(0)->custom(), h.w->Grid1View(0));
  EXPECT_EQ(h.w->ActiveBar31()->Bands("Band2")->ChildBands(1)->Tools(0)->custom(), h.w->Grid1View(2));
  EXPECT_EQ(h.w->ActiveBar31()->Bands("Band2")->ChildBands(0)->caption(), "目录导航");
  EXPECT_EQ(h.w->ActiveBar31()->Bands("Band2")->ChildBands(1)->caption(), "厂家导航");
  EXPECT_EQ(h.w->ActiveBar32()->Bands("Band1")->ChildBands(0)->Tools(0)->custom(), h.w->Grid1View(1));
  EXPECT_EQ(h.w->ActiveBar32()->clientAreaControl(), h.w->WebBrowser1()->widget());
  EXPECT_EQ(h.w->ActiveBar31()->clientAreaControl(), h.w->Picture2());
}

TEST(Startup, WithoutMainProEverythingKeepsItsDefaultAndOddValuesAreIgnored) {
  {
    fixture::Folder f;
    standardFolder(f);
    Harness h;
    ASSERT_TRUE(h.w->Form_Load());
    EXPECT_EQ(h.w->windowTitle().toStdString(), main_window::kDefaultCaption);
    EXPECT_EQ(h.w->serviceBase(), main_window::kDefaultServiceBase);
    EXPECT_EQ(h.w->servicePage(), "");
    EXPECT_EQ(h.w->Timer2Interval(), 5000);
    EXPECT_FALSE(h.w->Timer2Running()) << "no swf folder: no rotation";
    EXPECT_TRUE(h.banner().visits().empty());
    EXPECT_EQ(h.w->currentLibrary(), "lib");
    EXPECT_EQ(h.w->Grid1(0).Rows(), 8);
  }
  {
    // A value out of the timer's range keeps the interval; ico naming a file
    // that is not a picture keeps the icon; a picture becomes the icon.
    fixture::Folder f;
    standardFolder(f);
    f.writeBytes("swf/a.swf", "x");
    f.writeBytes("bad.ico", "not a picture");
    f.writeText("MainPro.ini", "timer=70000\r\nico=bad.ico\r\n");
    Harness h;
    const qint64 icon = h.w->windowIcon().cacheKey();
    ASSERT_TRUE(h.w->Form_Load());
    EXPECT_EQ(h.w->Timer2Interval(), 5000);
    EXPECT_TRUE(h.w->Timer2Running());
    EXPECT_EQ(h.w->windowIcon().cacheKey(), icon);

    // The item is lower-cased; the picture is found whatever the case of its name.
    QImage img(16, 16, QImage::Format_RGB32);
    img.fill(Qt::red);
    f.writeBytes("Icons/placeholder", "");
    ASSERT_TRUE(img.save(QString::fromStdString(f.file("Icons/Good.BMP")), "BMP"));
    f.writeText("MainPro.ini", "ico=Icons\\Good.BMP\r\ntimer=0\r\n");
    Harness h2;
    ASSERT_TRUE(h2.w->Form_Load());
    EXPECT_NE(h2.w->windowIcon().cacheKey(), icon);
    EXPECT_EQ(h2.w->Timer2Interval(), 0);
    EXPECT_FALSE(h2.w->Timer2Running()) << "an interval of 0 raises no ticks";
  }
}

TEST(Startup, NoLibraryStopsWithTheMessageAndALibraryInAnyLetterCaseOpens) {
  {
    fixture::Folder f;
    f.writeProMdb();
    f.makeUpdater();
    MessageBoxRecorder boxes;
    Harness h;
    EXPECT_FALSE(h.w->Form_Load());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "没有找到相关材料库！请重新安装本软件！");
    EXPECT_TRUE(h.started.empty());
    EXPECT_FALSE(f.exists("更新.ini"));
    EXPECT_TRUE(h.page().visits().empty());
  }
  {
    fixture::Folder f;
    f.writeProMdb();
    f.writeLibrary("x.ZDJ", fixture::standardLibrary());
    MessageBoxRecorder boxes;
    Harness h;
    ASSERT_TRUE(h.w->Form_Load());
    EXPECT_EQ(h.tool("comclk")->items(), std::vector<std::string>{"x"});
    EXPECT_TRUE(boxes.boxes().empty()) << "x.ZDJ opens as x.zdj: " << boxes.boxes().front().text;
    EXPECT_EQ(h.w->Grid1(0).Rows(), 8);
  }
}

// The library combo lists the libraries as a Chinese system's file list did
// (pinyin, months in order), and the start opens the last of them.
TEST(Startup, ListsTheLibrariesInTheSystemsOrderAndOpensTheLast) {
  fixture::Folder f;
  f.writeProMdb();
  for (const char* name : {"云岭.zdj", "北辰.zdj", "2026年12月信息价.zdj", "2026年01月信息价.zdj", "华通.ZDJ"})
    f.writeLibrary(name, fixture::standardLibrary());
  MessageBoxRecorder boxes;
  Harness h;
  ASSERT_TRUE(h.w->Form_Load());
  EXPECT_EQ(h.tool("comclk")->items(),
            (std::vector<std::string>{"2026年01月信息价", "2026年12月信息价", "北辰", "华通", "云岭"}));
  EXPECT_EQ(h.w->currentLibrary(), "云岭");
}

TEST(Startup, WritesTheMarkerAndStartsTheUpdaterHiddenOnlyWhenItIsThere) {
  fixture::Folder f;
  standardFolder(f);
  {
    Harness h;
    ASSERT_TRUE(h.w->Form_Load());
    EXPECT_TRUE(h.started.empty());
    EXPECT_FALSE(f.exists("更新.ini"));
  }
  f.makeUpdater();
  f.writeBytes("更新.ini", "old content that is longer than the new one");
  Harness h;
  ASSERT_TRUE(h.w->Form_Load());
  EXPECT_EQ(f.readBytes("更新.ini"), "\"Velmora\"\r\n");
  EXPECT_EQ(h.started, std::vector<std::string>{common::inProgramFolder(common::executableName("Quennar"))});
}

// The updater is found in any letter case and started as the program it is;
// a file of its name that is no program is neither started nor handed to the
// desktop's opener (a stand-in xdg-open on PATH records any hand-over).
TEST(Startup, FindsTheUpdaterInAnyLetterCaseAndStartsItOnlyAsAProgram) {
  fixture::Folder bin;
  const std::string opened = bin.file("opened");
  bin.writeBytes("xdg-open", "#!/bin/sh\n: > '" + opened + "'\n");
  QFile::setPermissions(QString::fromStdString(bin.file("xdg-open")),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const QByteArray oldPath = qgetenv("PATH");
  qputenv("PATH", QByteArray::fromStdString(bin.path()) + ":" + oldPath);
  auto waitFor = [](const std::string& file, int ms) {
    QElapsedTimer t;
    t.start();
    while (!QFileInfo::exists(QString::fromStdString(file)) && t.elapsed() < ms) QTest::qWait(10);
    return QFileInfo::exists(QString::fromStdString(file));
  };

  for (const char* name : {"QUENNAR", "quennar"}) {
    SCOPED_TRACE(name);
    fixture::Folder f;
    standardFolder(f);
    const std::string ran = f.file("ran");
    // No execute bit: it is given for the start.
    f.writeBytes(name, "#!/bin/sh\n: > '" + ran + "'\n");
    Harness h(false, platform::recordingBrowserFactory(), true);
    ASSERT_TRUE(h.w->Form_Load());
    EXPECT_EQ(h.started, std::vector<std::string>{f.file(name)});
    EXPECT_EQ(f.readBytes("更新.ini"), "\"Velmora\"\r\n");
    EXPECT_TRUE(waitFor(ran, 5000)) << "the updater ran";
    // 升级 finds it the same way.
    std::remove(ran.c_str());
    h.tool("Toolsj")->click();
    EXPECT_EQ(h.started, (std::vector<std::string>{f.file(name), f.file(name)}));
    EXPECT_TRUE(waitFor(ran, 5000)) << "the updater ran again";
  }

  {
    fixture::Folder f;
    standardFolder(f);
    f.writeBytes("Quennar", "ran = yes\n");
    Harness h(false, platform::recordingBrowserFactory(), true);
    ASSERT_TRUE(h.w->Form_Load());
    EXPECT_EQ(h.started, std::vector<std::string>{f.file("Quennar")});
    EXPECT_FALSE(waitFor(opened, 1000)) << "a text file is handed to the opener";
    EXPECT_FALSE(QFileInfo(QString::fromStdString(f.file("Quennar"))).isExecutable());
  }
  qputenv("PATH", oldPath);
}

TEST(Browsing, ClickFillsTheProductsAndShowsTheRowsPageOnce) {
  fixture::Folder f;
  standardFolder(f);
  f.writeText("MainPro.ini", "url=http://127.0.0.1:9/svc\r\n");
  Harness h;
  ASSERT_TRUE(h.w->Form_Load());
  h.page().clearVisits();

  // Category 12: two products, the page of the last row (12, 7) has no entry,
  // so the default page shows and Tag stays empty.
  h.clickId(0, "12");
  EXPECT_EQ(h.products(), (std::vector<std::string>{"螺纹钢 HRB400", "螺纹钢 HRB500"}));
  EXPECT_EQ(h.lastPage(), defaultPage(f));
  EXPECT_EQ(h.w->Tag(), "");
  EXPECT_FALSE(h.w->Timer1()->isActive());

  // Product row (12, 5): the local page web\a.htm.
  platform::VSFlexGrid& products = h.w->Grid1(1);
  products.setRow(3);
  products.fireClick();
  const std::string local = f.path() + "/web/a.htm";
  EXPECT_EQ(h.lastPage(), local);
  EXPECT_EQ(h.w->Tag(), local);
  EXPECT_TRUE(h.w->Timer1()->isActive());
  EXPECT_EQ(h.w->Timer1()->interval(), 100);
  h.w->Timer1_Timer();
  EXPECT_FALSE(h.w->Timer1()->isActive()) << "one shot";

  // The same row again: nothing reloads.
  const size_t visits = h.page().visits().size();
  products.fireClick();
  EXPECT_EQ(h.page().visits().size(), visits);
  EXPECT_FALSE(h.w->Timer1()->isActive());

  // Category 13: products ordered by manufacturer; the last row (13, 7) has
  // \web\b.htm, which is not installed: the online address.
  h.clickId(0, "13");
  EXPECT_EQ(h.products(), (std::vector<std::string>{"O'Neil 钢管", "等边角钢"}));
  EXPECT_EQ(h.lastPage(), "http://127.0.0.1:9/svc/vosk\\web\\b.htm");
  EXPECT_EQ(h.w->Tag(), h.lastPage());

  // Clicks through the view the window shows. One on the header moves nothing
  // and raises nothing; one on a row moves there, then the page follows it.
  h.w->resize(1000, 700);
  h.w->show();
  platform::GridView* view = h.w->Grid1View(1);
  ASSERT_NE(view, nullptr);
  const size_t before = h.page().visits().size();
  const int rowBefore = products.Row();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(view->viewport()->width() / 2, 3));
  EXPECT_EQ(products.Row(), rowBefore);
  EXPECT_EQ(h.page().visits().size(), before);
  const QRect oneil = view->cellRect(3, 1);
  ASSERT_FALSE(oneil.isEmpty());
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, oneil.center());
  EXPECT_EQ(products.Row(), 3);
  EXPECT_EQ(h.lastPage(), defaultPage(f)) << "(13, 5) has no page";
  EXPECT_EQ(h.w->Tag(), "");
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->cellRect(4, 1).center());
  EXPECT_EQ(products.Row(), 4);
  EXPECT_EQ(h.lastPage(), "http://127.0.0.1:9/svc/vosk\\web\\b.htm");
  EXPECT_EQ(h.w->Tag(), h.lastPage());

  // Manufacturer 9 (海螺水泥50%): its two cement products.
  h.clickId(2, "9");
  EXPECT_EQ(h.products(), (std::vector<std::string>{"普通硅酸盐水泥 P.O 42.5", "白色 水泥"}));
  EXPECT_EQ(h.lastPage(), "http://127.0.0.1:9/svc/vosk\\web\\c.htm");

  // A category without products: no page pair, the default page, Tag empty.
  h.clickId(0, "1");
  EXPECT_EQ(h.w->Grid1(1).Rows(), 3);
  EXPECT_EQ(h.lastPage(), defaultPage(f));
  EXPECT_EQ(h.w->Tag(), "");

  // A navigator row whose id is not a plain integer counts as 0.
  platform::VSFlexGrid& cats = h.w->Grid1(0);
  cats.setTextMatrix(4, cats.Cols() - 1, "12 or 1=1");
  cats.setRow(4);
  cats.fireClick();
  EXPECT_EQ(h.w->Grid1(1).Rows(), 3) << "no products in category 0";
}

TEST(PageCheck, EachErrorTextBringsTheDefaultPageBackAndEmptiesTag) {
  fixture::Folder f;
  standardFolder(f);
  f.writeText("MainPro.ini", "url=http://127.0.0.1:9/svc\r\n");
  Harness h;
  ASSERT_TRUE(h.w->Form_Load());
  const std::string online = "http://127.0.0.1:9/svc/vosk\\web\\b.htm";
  auto showOnline = [&] {
    h.clickId(0, "13");
    ASSERT_EQ(h.lastPage(), online);
    ASSERT_EQ(h.w->Tag(), online);
  };
  for (const std::string& page :
       {std::string("<head></head><body><h1>错误的请求</h1></body>"), std::string("<body>该页无法显示</body>"),
        std::string("<body>无法找到该网页</body>"), std::string("<body><h1>Service UNAVAILABLE</h1></body>")}) {
    SCOPED_TRACE(page);
    h.page().serve(online, {page, "<h1>x</h1>"});
    showOnline();
    h.w->Timer1_Timer();
    EXPECT_EQ(h.lastPage(), defaultPage(f));
    EXPECT_EQ(h.w->Tag(), "");
  }
  // A hit in a later element counts too.
  h.page().serve(online, {"<body><p>ok</p></body>", "<p>ok</p>", "无法找到"});
  showOnline();
  h.w->Timer1_Timer();
  EXPECT_EQ(h.lastPage(), defaultPage(f));

  // A page without the texts stays.
  h.page().serve(online, {"<body>price list</body>"});
  showOnline();
  h.w->Timer1_Timer();
  EXPECT_EQ(h.lastPage(), online);
  EXPECT_EQ(h.w->Tag(), online);

  // A page still loading at the check is checked once it has arrived.
  h.clickId(0, "1");  // default page, Tag empty
  h.page().serve(online, {"<body>无法显示</body>"});
  h.page().setLoadsAtOnce(false);
  showOnline();
  h.w->Timer1_Timer();
  EXPECT_EQ(h.lastPage(), online) << "no document yet: nothing happens";
  h.page().finishLoading();
  EXPECT_EQ(h.lastPage(), defaultPage(f));
  EXPECT_EQ(h.w->Tag(), "");
  h.page().finishLoading();
  // The default page's own arrival starts no check.
  EXPECT_EQ(h.lastPage(), defaultPage(f));
}

TEST(Toolbar, SearchesByNameOrManufacturerWithTheTextAsTyped) {
  fixture::Folder f;
  standardFolder(f);
  Harness h;
  ASSERT_TRUE(h.w->Form_Load());
  MessageBoxRecorder boxes;
  const size_t visits = h.page().visits().size();
  auto search = [&](const std::string& field, const std::string& text) {
    h.tool("comfind")->setText(field);
    h.tool("comfw")->setText(text);
    h.tool("Toolfind")->click();
  };
  EXPECT_EQ(h.tool("comfind")->text(), "产品名称");
  EXPECT_EQ(h.tool("comfind")->items(), (std::vector<std::string>{"产品名称", "生产厂家"}));

  search("产品名称", "钢");
  EXPECT_EQ(h.products().size(), 4u);
  search("生产厂家", "50%");
  EXPECT_EQ(h.products(), (std::vector<std::string>{"普通硅酸盐水泥 P.O 42.5", "白色 水泥"}));
  search("产品名称", " ");
  // Ordered by manufacturer (5, 7, 9).
  EXPECT_EQ(h.products(), (std::vector<std::string>{"螺纹钢 HRB400", "O'Neil 钢管", "螺纹钢 HRB500",
                                                    "普通硅酸盐水泥 P.O 42.5", "白色 水泥"}));
  search("产品名称", "O'Neil");
  EXPECT_EQ(h.products(), std::vector<std::string>{"O'Neil 钢管"});
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(h.page().visits().size(), visits) << "a search leaves the page view alone";

  search("产品名称", "");
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, "请录入查询内容!");
  EXPECT_EQ(h.products(), std::vector<std::string>{"O'Neil 钢管"});
}

TEST(Toolbar, LibrarySwitchReopensAndRebuildsTheNavigators) {
  fixture::Folder f;
  standardFolder(f, "b.zdj");
  fixture::Library other;
  other.categories = {{0, -1, "全部"}, {3, 0, "木材"}};
  other.factories = {{1, "林场"}};
  other.products = {{1, "松木", 3, 1}};
  f.writeLibrary("A.zdj", other);
  Harness h;
  ASSERT_TRUE(h.w->Form_Load());
  h.clickId(0, "12");
  ASSERT_EQ(h.w->Grid1(1).Rows(), 5);

  h.tool("comclk")->choose("A");
  EXPECT_EQ(h.w->currentLibrary(), "A");
  EXPECT_EQ(h.w->Grid1(0).Rows(), 3 + 2);
  EXPECT_EQ(h.w->Grid1(2).Rows(), 3 + 1);
  EXPECT_EQ(h.w->Grid1(1).Rows(), 3);
  EXPECT_EQ(h.lastPage(), defaultPage(f));
  EXPECT_EQ(h.w->Tag(), "");
  h.clickId(0, "3");
  EXPECT_EQ(h.products(), std::vector<std::string>{"松木"});

  // The library already open: reopened, navigators rebuilt.
  h.tool("comclk")->choose("A");
  EXPECT_EQ(h.w->Grid1(1).Rows(), 3);
  EXPECT_EQ(h.w->Grid1(0).Rows(), 5);
}

TEST(Toolbar, UpgradeButtonNeedsTheUpdaterAndStartsItWithoutTheMarker) {
  fixture::Folder f;
  standardFolder(f);
  Harness h;
  ASSERT_TRUE(h.w->Form_Load());
  MessageBoxRecorder boxes;
  f.writeBytes("更新.ini", "\"Velmora\"\r\n");
  h.tool("Toolsj")->click();
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, "没有找到升级程序!");
  EXPECT_TRUE(f.exists("更新.ini")) << "left untouched";
  EXPECT_TRUE(h.started.empty());

  f.makeUpdater();
  h.tool("Toolsj")->click();
  EXPECT_EQ(boxes.boxes().size(), 1u);
  EXPECT_FALSE(f.exists("更新.ini"));
  EXPECT_EQ(h.started, std::vector<std::string>{common::inProgramFolder(common::executableName("Quennar"))});
}

TEST(OnlineService, OneWindowKeepsNewWindowsInsideAndClosesAlone) {
  fixture::Folder f;
  standardFolder(f);
  f.writeText("MainPro.ini", "fwurl=http://127.0.0.1:9/service\r\n");
  Harness h;
  ASSERT_TRUE(h.w->Form_Load());
  h.w->show();
  h.tool("Toolfw")->click();
  QPointer<service_window::Frmline> first = h.w->onlineWindow();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->windowTitle().toStdString(), "在线服务");
  EXPECT_TRUE(first->isVisible());
  EXPECT_EQ(first->size(), QSize(platform::twipsToPixels(9375), platform::twipsToPixels(6810)));
  auto* browser = dynamic_cast<RecordingBrowser*>(first->WebBrowser1());
  ASSERT_TRUE(browser);
  EXPECT_EQ(browser->widget()->geometry(), first->rect()) << "the browser fills the window";
  first->resize(500, 300);
  EXPECT_EQ(browser->widget()->geometry(), QRect(0, 0, 500, 300));

  h.tool("Toolfw")->click();
  EXPECT_EQ(h.w->onlineWindow(), first.data()) << "one instance";
  ASSERT_EQ(browser->visits().size(), 2u);
  for (const auto& v : browser->visits()) {
    EXPECT_EQ(v.address, "http://127.0.0.1:9/service");
    EXPECT_EQ(v.generation, 2);
  }

  // A page's new window opens in the same window.
  EXPECT_TRUE(browser->pageOpensWindow("http://127.0.0.1:9/other"));
  EXPECT_EQ(browser->visits().back().address, "http://127.0.0.1:9/other");
  EXPECT_EQ(browser->visits().back().generation, 1);
  // Only web addresses: local files and other schemes stay out, and nothing
  // goes to the desktop.
  const size_t visits = browser->visits().size();
  for (const char* refused : {"file:///etc/passwd", "/etc/passwd", "velmora:run", "javascript:alert(1)"})
    EXPECT_TRUE(browser->pageOpensWindow(refused, /*userClick=*/true)) << refused;
  EXPECT_TRUE(browser->pageOpensWindow("https://127.0.0.1:9/script", /*userClick=*/false));
  EXPECT_EQ(browser->visits().size(), visits + 1);
  EXPECT_EQ(browser->visits().back().address, "https://127.0.0.1:9/script");
  EXPECT_TRUE(browser->desktopBrowserAddresses().empty());

  // A page's window.close() closes this window only.
  browser->pageClosesWindow();
  QTest::qWait(10);
  EXPECT_FALSE(first) << "closed and gone";
  EXPECT_TRUE(h.w->isVisible());
  EXPECT_EQ(h.ended, 0);

  // The next click makes a new one; closing the main window closes both.
  h.tool("Toolfw")->click();
  QPointer<service_window::Frmline> second = h.w->onlineWindow();
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->isVisible()) << "a new window, shown";
  h.w->close();
  QTest::qWait(10);
  EXPECT_FALSE(second && second->isVisible());
  EXPECT_EQ(h.ended, 1);
}

TEST(OnlineService, AWindowThatCannotBeMadeLeavesTheMainWindowAsItWas) {
  fixture::Folder f;
  standardFolder(f);
  f.writeText("MainPro.ini", "fwurl=http://127.0.0.1:9/service\r\n");
  // The main window makes its two browsers; the online-service window's
  // browser cannot be made: the factory makes none, or fails.
  for (bool throws : {false, true}) {
    SCOPED_TRACE(throws ? "factory fails" : "factory makes none");
    int made = 0;
    auto recording = platform::recordingBrowserFactory();
    Harness h(false, [&](QWidget* parent) -> std::unique_ptr<platform::WebBrowser> {
      if (++made <= 2) return recording(parent);
      if (throws) throw std::runtime_error("no browser");
      return nullptr;
    });
    ASSERT_TRUE(h.w->Form_Load());
    h.w->show();
    const size_t children = h.w->findChildren<service_window::Frmline*>().size();
    h.tool("Toolfw")->click();
    h.tool("Toolfw")->click();
    QTest::qWait(10);
    EXPECT_EQ(h.w->onlineWindow(), nullptr);
    EXPECT_EQ(h.w->findChildren<service_window::Frmline*>().size(), children) << "no half-made window left";
    EXPECT_TRUE(h.w->isVisible());
    EXPECT_EQ(h.ended, 0);
    EXPECT_EQ(made, 4) << "each click tries again";
  }
}

TEST(Pages, NewWindowsGoToTheDesktopsBrowserOnlyForWebAddressesAfterAClick) {
  fixture::Folder f;
  standardFolder(f);
  Harness h;
  ASSERT_TRUE(h.w->Form_Load());
  for (RecordingBrowser* b : {&h.page(), &h.banner()}) {
    EXPECT_FALSE(b->pageOpensWindow("http://127.0.0.1:9/a.htm"));
    EXPECT_FALSE(b->pageOpensWindow("HTTPS://127.0.0.1:9/b.htm"));
    // Refused: a script's window without a click, local files, other schemes,
    // addresses without a host.
    b->pageOpensWindow("http://127.0.0.1:9/popup.htm", /*userClick=*/false);
    for (const char* refused : {"file:///bin/sh", "/bin/sh", "C:\\Windows\\notepad.exe", "ms-settings:privacy",
                                "velmora:run", "javascript:alert(1)", "about:blank", "data:text/html,x", "http:/a",
                                "ftp://127.0.0.1/a", "mailto:a@b.c", ""})
      b->pageOpensWindow(refused);
    EXPECT_EQ(b->desktopBrowserAddresses(),
              (std::vector<std::string>{"http://127.0.0.1:9/a.htm", "HTTPS://127.0.0.1:9/b.htm"}));
  }
  // The policy on its own.
  EXPECT_TRUE(platform::opensInDesktopBrowser("https://price.example.com/x", true));
  EXPECT_FALSE(platform::opensInDesktopBrowser("https://price.example.com/x", false));
  EXPECT_FALSE(platform::opensInDesktopBrowser("price.example.com/x", true)) << "no scheme: no guessing";
}

TEST(OnlineService, WithoutAServicePageTheWindowOpensBlank) {
  fixture::Folder f;
  standardFolder(f);
  MessageBoxRecorder boxes;
  Harness h;
  ASSERT_TRUE(h.w->Form_Load());
  h.tool("Toolfw")->click();
  ASSERT_TRUE(h.w->onlineWindow());
  auto* browser = dynamic_cast<RecordingBrowser*>(h.w->onlineWindow()->WebBrowser1());
  EXPECT_EQ(browser->addresses(), std::vector<std::string>{""});
  EXPECT_TRUE(boxes.boxes().empty());
}

// MainPro.ini is found in any letter case, as the names it gives are: a folder
// holding MAINPRO.INI (copied from a system that ignores case) keeps its settings.
TEST(Startup, FindsMainProIniInAnyLetterCase) {
  fixture::Folder f;
  standardFolder(f);
  f.writeText("MAINPRO.INI", "dw=某市造价站\r\ntel=0571-1234\r\n");
  Harness h;
  ASSERT_TRUE(h.w->Form_Load());
  EXPECT_EQ(h.tool("Tooldw")->caption(), "某市造价站");
  EXPECT_EQ(h.tool("Tooltel")->caption(), "0571-1234");
}

TEST(Banner, RotatesThroughTheSwfFilesInNameOrder) {
  fixture::Folder f;
  standardFolder(f);
  for (const char* n : {"swf/c.swf", "swf/a.swf", "swf/B.SWF", "swf/readme.txt"}) f.writeBytes(n, "x");
  f.writeText("MainPro.ini", "timer=2000\r\n");
  Harness h;
  ASSERT_TRUE(h.w->Form_Load());
  EXPECT_EQ(h.w->bannerList(), (std::vector<std::string>{"a.swf", "B.SWF", "c.swf"}));
  EXPECT_TRUE(h.w->Timer2Running());
  EXPECT_EQ(h.w->Timer2()->interval(), 2000);
  for (int i = 0; i < 4; ++i) h.w->Timer2_Timer();
  const std::string swf = f.path() + "/swf/";
  EXPECT_EQ(h.banner().addresses(),
            (std::vector<std::string>{swf + "a.swf", swf + "B.SWF", swf + "c.swf", swf + "a.swf", swf + "B.SWF"}));
  EXPECT_EQ(h.w->swfIndex(), 1);
}

TEST(Layout, BannerOnTopToolbarBelowAndTooLowAWindowKeepsTheToolbar) {
  fixture::Folder f;
  standardFolder(f);
  f.writeBytes("swf/a.swf", "x");
  Harness h;
  ASSERT_TRUE(h.w->Form_Load());
  h.w->resize(1000, 700);
  h.w->show();
  QTest::qWait(10);
  const int banner = platform::twipsToPixels(main_window::kBannerTwips);
  EXPECT_EQ(h.w->Picture1()->geometry(), QRect(0, 0, 1000, banner));
  EXPECT_EQ(h.w->ActiveBar31()->geometry(), QRect(0, banner, 1000, 700 - banner));
  EXPECT_EQ(h.w->WebBrowser2()->widget()->geometry(), QRect(0, 0, 1000, banner));

  h.w->resize(1200, 800);
  EXPECT_EQ(h.w->ActiveBar31()->geometry(), QRect(0, banner, 1200, 800 - banner));
  EXPECT_EQ(h.w->WebBrowser2()->widget()->width(), 1200);

  // 800 x 600 twips: lower than the banner strip.
  h.w->resize(platform::twipsToPixels(800), platform::twipsToPixels(600));
  EXPECT_EQ(h.w->Picture1()->width(), platform::twipsToPixels(800));
  EXPECT_EQ(h.w->Picture1()->height(), banner);
  EXPECT_EQ(h.w->ActiveBar31()->height(), 800 - banner) << "the toolbar keeps its height";

  // The navigator pane can be resized by the user, and keeps its place.
  h.w->resize(1200, 800);
  QDockWidget* pane = h.w->ActiveBar31()->Bands("Band2")->pane();
  ASSERT_TRUE(pane);
  EXPECT_TRUE(pane->isVisible());
  EXPECT_GT(pane->width(), 100);
  h.w->ActiveBar31()->resizeDocks({pane}, {400}, Qt::Horizontal);
  QTest::qWait(10);
  EXPECT_NEAR(pane->width(), 400, 10);
  h.w->resize(1300, 900);
  QTest::qWait(10);
  EXPECT_NEAR(pane->width(), 400, 10);
}

TEST(Shutdown, TheUpdatersCloseRequestClosesTheWindowAsTheUserWould) {
  fixture::Folder f;
  standardFolder(f);
  const std::string caption = "close test " + std::to_string(QCoreApplication::applicationPid());
  f.writeText("MainPro.ini", "sname=" + caption + "\r\n");
  Harness h(/*listen=*/true);
  ASSERT_TRUE(h.w->Form_Load());
  h.w->show();
  ASSERT_TRUE(platform::isListening(caption));
  EXPECT_TRUE(platform::requestClose(caption));
  QElapsedTimer t;
  t.start();
  while (h.ended == 0 && t.elapsed() < 5000) QTest::qWait(10);
  EXPECT_EQ(h.ended, 1);
  EXPECT_FALSE(h.w->isVisible());
  EXPECT_FALSE(platform::isListening(caption));
}

// The page engine's loads are matched to the address asked for: an explicit
// default port (url=http://host:80/... in MainPro.ini) is the same place as none.
TEST(Browsing, AddressesWithAndWithoutTheDefaultPortAreTheSame) {
  const auto same = [](const char* a, const char* b) {
    return platform::sameAddress(QUrl(QString::fromUtf8(a)), QUrl(QString::fromUtf8(b)));
  };
  EXPECT_TRUE(same("http://host:80/x", "http://host/x"));
  EXPECT_TRUE(same("HTTP://Host/x", "http://host:80/x"));
  EXPECT_TRUE(same("https://host:443/a/../x", "https://host/x"));
  EXPECT_FALSE(same("http://host:8080/x", "http://host/x"));
  EXPECT_FALSE(same("https://host:80/x", "https://host/x"));
  EXPECT_FALSE(same("http://host/x", "http://other/x"));
  EXPECT_FALSE(same("http://host/x", "http://host/y"));
}

TEST(Splash, HandsOverToTheMainWindowAtItsFirstTick) {
  app();
  int shown = 0;
  QPointer<main_window::Frmgy> splash = new main_window::Frmgy([&] { ++shown; }, 5);
  EXPECT_EQ(splash->Timer1()->interval(), 5);
  splash->show();
  QElapsedTimer t;
  t.start();
  while (splash && t.elapsed() < 2000) QTest::qWait(5);
  EXPECT_FALSE(splash) << "closed and gone";
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(main_window::Frmgy([] {}).Timer1()->interval(), 2000);
}

// With a splash time of 0 the tick can come while the window system answers
// the splash's show(); the hand-over (which runs events itself, as the main
// window's load step does) waits until show() has returned.
TEST(Splash, ATickDuringItsShowWaitsUntilTheSplashIsShown) {
  app();
  int shown = 0;
  QPointer<main_window::Frmgy> splash = new main_window::Frmgy([&] {
    ++shown;
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }, 0);
  struct EventsWhileShowing : QObject {
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Show) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 50) QCoreApplication::processEvents();
      }
      return false;
    }
  } filter;
  splash->installEventFilter(&filter);
  splash->show();
  EXPECT_EQ(shown, 0) << "handed over inside show()";
  ASSERT_TRUE(splash) << "deleted under its own show()";
  EXPECT_TRUE(splash->isVisible());
  QElapsedTimer t;
  t.start();
  while ((splash || shown == 0) && t.elapsed() < 2000) QTest::qWait(5);
  EXPECT_EQ(shown, 1);
  EXPECT_FALSE(splash) << "closed and gone";
}

TEST(Splash, ClosedBeforeItsTickItEndsTheProgramInsteadOfHandingOver) {
  app();
  int shown = 0, ended = 0;
  QPointer<main_window::Frmgy> splash = new main_window::Frmgy([&] { ++shown; }, 50, [&] { ++ended; });
  splash->show();
  splash->close();
  QTest::qWait(200);
  EXPECT_FALSE(splash) << "closed and gone";
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(shown, 0) << "no main window after the splash was closed";
  // Closing at the tick hands over and ends nothing.
  splash = new main_window::Frmgy([&] { ++shown; }, 5, [&] { ++ended; });
  splash->show();
  QElapsedTimer t;
  t.start();
  while (splash && t.elapsed() < 2000) QTest::qWait(5);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(ended, 1);
}

TEST(Browsing, WithoutAnOpenLibraryThePageViewShowsTheDefaultPage) {
  fixture::Folder f;
  f.writeProMdb();
  f.writeLibrary("lib.zdj", fixture::standardLibrary(), "not the password");
  MessageBoxRecorder boxes;
  Harness h;
  ASSERT_TRUE(h.w->Form_Load());
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text.rfind("无法连接!错误提示:", 0), 0u) << boxes.boxes()[0].text;
  EXPECT_EQ(h.w->Grid1(0).Rows(), 3) << "the navigators stay empty";
  h.w->Grid1(1).fireClick();
  EXPECT_EQ(h.lastPage(), defaultPage(f));
  EXPECT_EQ(h.w->Tag(), "");
  EXPECT_FALSE(h.w->Timer1()->isActive());
}
