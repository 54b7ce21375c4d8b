#include "main_window/frmeq.h"

#include "common/items.h"
#include "common/log.h"
#include "common/program_folder.h"
#include "common/text_case.h"
#include "data/connections.h"
#include "data/files.h"
#include "data/skip_on_error.h"
#include "main_window/mainpro.h"
#include "platform/browser/recording_browser.h"
#include "platform/messagebox/messagebox.h"
#include "platform/process/process.h"
#include "platform/screen/twips.h"
#include "service_window/frmline.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QDockWidget>
#include <QLayout>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace main_window {

using data::skipOnError;

namespace {

constexpr const char* kMarkerFile = "更新.ini";
constexpr const char* kConfigFile = "MainPro.ini";

// A file of the program folder named Windows-style (as MainPro.ini names it,
// lower-cased), in whatever letter case it lies there. "" when there is none.
std::string findInProgramFolder(const std::string& name) { return data::findProgramFile(name); }

// The window's own icon, as the window was designed with it.
QIcon designIcon() {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(0x1d, 0x4e, 0x89));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
  p.setPen(QPen(Qt::white, 3));
  p.drawLine(QPointF(8, 9), QPointF(16, 24));
  p.drawLine(QPointF(16, 24), QPointF(24, 9));
  return QIcon(pm);
}

}  // namespace

FrmeqHooks programHooks(platform::WebBrowserFactory browsers) {
  FrmeqHooks hooks;
  hooks.browsers = std::move(browsers);
  // The updater is started only as a program, never handed to the desktop's opener.
  hooks.startHidden = [](const std::string& path) { platform::startProgramFile(path, true); };
  hooks.endProgram = [] { QCoreApplication::exit(0); };
  return hooks;
}

frmeq::frmeq(FrmeqHooks hooks, QWidget* parent)
    : QWidget(parent),
      hooks_(std::move(hooks)),
      grids_{std::make_unique<platform::VSFlexGrid>(), std::make_unique<platform::VSFlexGrid>(),
             std::make_unique<platform::VSFlexGrid>()},
      navigator_(*grids_[0], *grids_[1], *grids_[2]) {
  if (!hooks_.browsers) {
    // A window without a display of its own (tests, scripted runs): pages are recorded, not shown.
    qCInfo(common::logSkip, "frmeq: no browser factory given: pages are recorded, not shown");
    hooks_.browsers = platform::recordingBrowserFactory();
  }
  buildControls();
}

frmeq::~frmeq() {
  closeListener_.reset();
  for (auto* b : {webBrowser1_.get(), webBrowser2_.get()}) {
    if (!b) continue;
    b->DocumentComplete = nullptr;
  }
}

// The window as designed: controls, bands and tools with their captions.
void frmeq::buildControls() {
  setWindowTitle(QString::fromLatin1(kDefaultCaption));
  setWindowIcon(designIcon());
  setMinimumSize(1, 1);

  for (auto& g : grids_) data::prepareNavigatorGrid(*g);

  picture1_ = new QWidget(this);
  picture1_->setObjectName("Picture1");
  picture1_->setAutoFillBackground(true);
  QPalette pal = picture1_->palette();
  pal.setColor(QPalette::Window, QColor(0x1d, 0x4e, 0x89));
  picture1_->setPalette(pal);
  picture1_->setGeometry(0, 0, 800, platform::twipsToPixels(kBannerTwips));
  picture1_->installEventFilter(this);
  webBrowser2_ = hooks_.browsers(picture1_);
  webBrowser2_->widget()->setParent(picture1_);
  webBrowser2_->widget()->setObjectName("WebBrowser2");

  activeBar31_ = new platform::ActiveBar(this);
  activeBar31_->setObjectName("ActiveBar31");
  using platform::BandDock;
  using platform::BandKind;
  using platform::ToolKind;
  platform::Band* band1 = activeBar31_->addBand("Band1", BandKind::Strip, BandDock::Top, "查找");
  platform::Tool* comfind = band1->addTool("comfind", ToolKind::Combo, "查找范围");
  comfind->AddItem(data::kSearchByName);
  comfind->AddItem(data::kSearchByFactory);
  comfind->setText(data::kSearchByName);
  band1->addTool("comfw", ToolKind::TextBox, "查找内容");
  band1->addTool("Toolfind", ToolKind::Button, "查找");
  band1->addTool("Toolfw", ToolKind::Button, "在线咨询");
  band1->addTool("Toolsj", ToolKind::Button, "在线升级");
  platform::Band* band2 = activeBar31_->addBand("Band2", BandKind::Pane, BandDock::Left);
  band2->addChildBand("ChildBand1", "目录导航")->addTool("", ToolKind::Custom);
  band2->addChildBand("ChildBand2", "厂家导航")->addTool("", ToolKind::Custom);
  band2->setDockExtent(platform::twipsToPixels(4200));
  platform::Band* band3 = activeBar31_->addBand("Band3", BandKind::Strip, BandDock::Top, "材料库");
  band3->addTool("comclk", ToolKind::Combo, "选择材料库");
  band3->addTool("Tooldw", ToolKind::Label, "材料价格信息中心");
  band3->addTool("Tooltel", ToolKind::Label, "服务电话");

  // Controls that go into the toolbars belong to the window until they do.
  picture2_ = new QWidget(this);
  picture2_->hide();
  picture2_->setObjectName("Picture2");
  auto* p2layout = new QVBoxLayout(picture2_);
  p2layout->setContentsMargins(0, 0, 0, 0);
  activeBar32_ = new platform::ActiveBar(picture2_);
  activeBar32_->setObjectName("ActiveBar32");
  p2layout->addWidget(activeBar32_);
  platform::Band* inner = activeBar32_->addBand("Band1", BandKind::Pane, BandDock::Top);
  inner->addChildBand("ChildBand1", "")->addTool("", ToolKind::Custom);
  inner->setDockExtent(platform::twipsToPixels(3600));

  webBrowser1_ = hooks_.browsers(nullptr);
  webBrowser1_->widget()->setObjectName("WebBrowser1");
  webBrowser1_->DocumentComplete = [this](const std::string&) { WebBrowser1_DocumentComplete(); };

  for (int i = 0; i < 3; ++i) {
    gridViews_[i] = new platform::GridView(grids_[i].get(), this);
    gridViews_[i]->hide();
    gridViews_[i]->setObjectName(QStringLiteral("Grid1_%1").arg(i));
    connect(grids_[i].get(), &platform::VSFlexGrid::Click, this, [this, i] { Grid1_Click(i); });
  }

  connect(activeBar31_, &platform::ActiveBar::ToolClick, this, &frmeq::ActiveBar31_ToolClick);
  connect(activeBar31_, &platform::ActiveBar::ComboSelChange, this, &frmeq::ActiveBar31_ComboSelChange);

  timer1_.setInterval(kPageCheckMs);
  connect(&timer1_, &QTimer::timeout, this, &frmeq::Timer1_Timer);
  timer2_.setInterval(kBannerIntervalMs);
  connect(&timer2_, &QTimer::timeout, this, &frmeq::Timer2_Timer);
}

bool frmeq::Form_Load() {
  setTimer2(kBannerIntervalMs, true);

  // 1. Configuration.
  skipOnError("Form_Load: configuration", [&] { readConfiguration(); });
  // 2. Library slot.
  data::libraryslot = 1;
  // 3. Library discovery.
  skipOnError("Form_Load: libraries", [&] { discoverLibraries(); });
  // 4. No library: nothing of the window is shown.
  if (currentLibrary_.empty()) {
    platform::MsgBox(kNoLibraryText);
    return false;
  }
  // 5. The library.
  skipOnError("Form_Load: library combo text", [&] { activeBar31_->Tools("comclk")->setText(currentLibrary_); });
  skipOnError("Form_Load: open databases", [&] { data::opendatabases(libraryFile(currentLibrary_)); });
  // 6. Banner.
  skipOnError("Form_Load: banner", [&] { startBanner(); });
  // 7. Outer toolbar.
  skipOnError("Form_Load: outer toolbar", [&] {
    platform::Band* band2 = activeBar31_->Bands("Band2");
    band2->ChildBands(0)->Tools(0)->setCustom(gridViews_[0]);
    band2->ChildBands(1)->Tools(0)->setCustom(gridViews_[2]);
    activeBar31_->setClientAreaControl(picture2_);
    activeBar31_->RecalcLayout();
  });
  // 8. Inner toolbar.
  skipOnError("Form_Load: inner toolbar", [&] {
    activeBar32_->Bands("Band1")->ChildBands(0)->Tools(0)->setCustom(gridViews_[1]);
    activeBar32_->setClientAreaControl(webBrowser1_->widget());
    activeBar32_->RecalcLayout();
  });
  // 9. Category navigator: the column switch of columns 0 and 1.
  skipOnError("Form_Load: category switch column 0", [&] { grids_[0]->setColSwitch171(0, true); });
  skipOnError("Form_Load: category switch column 1", [&] { grids_[0]->setColSwitch171(1, true); });
  // The grids are laid out for their widths: arrange the window as it will
  // show before the layouts are read.
  arrangeHidden();
  // 10. Navigators and default page.
  skipOnError("Form_Load: loadnav", [&] { loadnav(); });
  // 11. Updater launch.
  skipOnError("Form_Load: updater start", [&] { startUpdaterAtStartUp(); });

  // The updater's close request reaches the window under its caption.
  if (hooks_.listenForClose) {
    skipOnError("Form_Load: close listener", [&] {
      // The close runs once the request has been read: closing ends the listener.
      closeListener_ = std::make_unique<platform::CloseRequestListener>(
          windowTitle().toStdString(), [this] { QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection); });
    });
  }
  Form_Resize();
  return true;
}

// A window that has not been shown yet gets no resize events; its grids would
// be laid out for a width of 0. Lay the controls out now and tell each grid the
// width its view has (design widths where the view has none yet).
void frmeq::arrangeHidden() {
  if (isVisible()) return;
  skipOnError("arrangeHidden: arrange", [&] {
    Form_Resize();
    Picture1_Resize();
    for (platform::ActiveBar* bar : {activeBar31_, activeBar32_}) {
      bar->RecalcLayout();
      if (bar->layout()) bar->layout()->activate();
      if (QWidget* client = bar->clientAreaControl(); client && client->layout()) client->layout()->activate();
    }
    for (QWidget* w : {static_cast<QWidget*>(activeBar31_->Bands("Band2")->pane()),
                       static_cast<QWidget*>(activeBar32_->Bands("Band1")->pane())}) {
      if (w && w->layout()) w->layout()->activate();
    }
  });
  const int designTwips[3] = {4200, 12000, 4200};
  for (int i = 0; i < 3; ++i) {
    int w = gridViews_[i]->width();
    if (!gridViews_[i]->testAttribute(Qt::WA_Resized) || w < 50) w = platform::twipsToPixels(designTwips[i]);
    grids_[i]->setWidth(static_cast<int>(platform::pixelsToTwips(w)));
  }
}

void frmeq::readConfiguration() {
  const std::string path = data::findProgramFile(kConfigFile);
  if (path.empty()) return;
  for (const auto& [key, value] : readMainPro(path)) skipOnError("readConfiguration: setting", [&] { applySetting(key, value); });
  activeBar31_->RecalcLayout();
}

void frmeq::applySetting(const std::string& key, const std::string& value) {
  if (key == "sname") {
    setWindowTitle(QString::fromStdString(value));
    platform::setApplicationTitle(upperText(value));
  } else if (key == "url") {
    serviceBase_ = value;
  } else if (key == "ico") {
    const std::string path = findInProgramFolder(value);
    if (path.empty()) return;
    QImageReader reader(QString::fromStdString(path));
    QImage image = reader.read();
    if (image.isNull()) return;  // not a picture: the icon stays
    setWindowIcon(QIcon(QPixmap::fromImage(image)));
  } else if (key == "fwurl") {
    servicePage_ = value;
  } else if (key == "timer") {
    if (auto ms = timerInterval(value)) setTimer2(*ms, timer2Enabled_);
  } else if (key == "dw") {
    activeBar31_->Tools("Tooldw")->setCaption(value);
  } else if (key == "tel") {
    activeBar31_->Tools("Tooltel")->setCaption(value);
  }
}

void frmeq::discoverLibraries() {
  libraries_.clear();
  for (const std::string& name : data::libraryNames(common::programFolder())) {
    libraries_.push_back(name);
    skipOnError("discoverLibraries: combo item", [&] { activeBar31_->Tools("comclk")->AddItem(name); });
    currentLibrary_ = name;
  }
}

// The library file of a library name: name + ".zdj"; on a file system that
// tells letter cases apart, a file listed as x.ZDJ is found as it is named.
std::string frmeq::libraryFile(const std::string& name) const { return data::libraryFileName(name); }

void frmeq::startBanner() {
  banners_ = data::folderFiles(common::inProgramFolder("swf"), ".swf");
  if (!banners_.empty()) {
    webBrowser2_->Navigate(common::inProgramFolder("\\swf\\" + banners_.at(static_cast<size_t>(swfIndex_))));
  } else {
    setTimer2(timer2Interval_, false);
  }
}

void frmeq::startUpdaterAtStartUp() {
  const std::string updater = data::findProgramFile(common::executableName("Quennar"));
  if (updater.empty()) return;
  std::string exe = hooks_.exeName;
  if (exe.empty()) exe = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
  skipOnError("startUpdaterAtStartUp: marker", [&] {
    if (!common::writeItemFile(common::inProgramFolder(kMarkerFile), {exe}))
      throw std::runtime_error(std::string("cannot write ") + kMarkerFile);
  });
  if (hooks_.startHidden) hooks_.startHidden(updater);
}

void frmeq::setTimer2(int interval, bool enabled) {
  timer2Interval_ = interval;
  timer2Enabled_ = enabled;
  timer2_.setInterval(interval);
  // An interval of 0 raises no ticks.
  if (enabled && interval > 0)
    timer2_.start();
  else
    timer2_.stop();
}

// ---- navigation and pages ----

void frmeq::navigatePage(const std::string& address) {
  pageCheckPending_ = false;
  webBrowser1_->Navigate(address);
}

void frmeq::loadnav() {
  navigator_.loadnav();
  skipOnError("loadnav: default page", [&] { navigatePage(data::defaultPagePath()); });
  tag_.clear();
}

void frmeq::Grid1_Click(int index) {
  skipOnError("Grid1_Click: click", [&] { navigator_.click(index); });
  skipOnError("Grid1_Click: showpage", [&] { showpage(); });
}

void frmeq::showpage() {
  data::PageTarget target;
  if (!skipOnError("showpage: page of the product", [&] { target = navigator_.page(serviceBase_); }))
    target = data::NavigatorSession::pageOf(data::PageKey{}, serviceBase_);
  showPageTarget(target);
}

void frmeq::showPageTarget(const data::PageTarget& target) {
  if (target.isDefault) {
    navigatePage(target.address);
    tag_.clear();
    return;
  }
  if (target.address == tag_) return;
  tag_ = target.address;
  navigatePage(target.address);
  pageCheckPending_ = true;
  timer1_.start();
}

void frmeq::Timer1_Timer() {
  timer1_.stop();
  htmlerr();
}

// The page engine loads in the background; a page that was not there yet when
// Timer1 ran is checked once it has arrived.
void frmeq::WebBrowser1_DocumentComplete() {
  if (pageCheckPending_) htmlerr();
}

void frmeq::htmlerr() {
  skipOnError("htmlerr: page check", [&] {
    auto all = webBrowser1_->documentAll();
    if (!all) return;
    pageCheckPending_ = false;
    bool hit = false;
    for (const std::string& html : *all) {
      const std::string lower = common::asciiLower(html);
      if (lower.find("错误的请求") != std::string::npos || html.find("无法显示") != std::string::npos ||
          html.find("无法找到") != std::string::npos || lower.find("service unavailable") != std::string::npos) {
        hit = true;
        break;
      }
    }
    if (!hit) return;
    navigatePage(data::defaultPagePath());
    tag_.clear();
  });
}

// ---- toolbar ----

void frmeq::ActiveBar31_ToolClick(platform::Tool* tool) {
  if (!tool) return;
  const std::string& name = tool->name();
  if (name == "Toolfind") {
    std::string text;
    if (!skipOnError("Toolfind: search text", [&] { text = activeBar31_->Tools("comfw")->text(); })) return;
    if (text.empty()) {
      platform::MsgBox(kEnterSearchText);
      return;
    }
    std::string field;
    skipOnError("Toolfind: search field", [&] { field = activeBar31_->Tools("comfind")->text(); });
    navigator_.search(field, text);
  } else if (name == "Toolfw") {
    skipOnError("Toolfw: service window", [&] {
      if (!frmline_) frmline_ = new service_window::Frmline(hooks_.browsers, this);
      frmline_->show();
      frmline_->raise();
      frmline_->activateWindow();
    });
    // A window that could not be made is not there to be sent anywhere.
    skipOnError("Toolfw: service page", [&] {
      if (frmline_) frmline_->WebBrowser1()->Navigate2(servicePage_);
    });
  } else if (name == "Toolsj") {
    const std::string updater = data::findProgramFile(common::executableName("Quennar"));
    if (updater.empty()) {
      platform::MsgBox(kNoUpdaterText);
      return;
    }
    skipOnError("Toolsj: marker", [&] {
      const std::string marker = common::inProgramFolder(kMarkerFile);
      if (data::fileexists(marker)) std::remove(marker.c_str());
    });
    skipOnError("Toolsj: updater start", [&] {
      if (hooks_.startHidden) hooks_.startHidden(updater);
    });
  }
}

void frmeq::ActiveBar31_ComboSelChange(platform::Tool* tool) {
  if (!tool || tool->name() != "comclk") return;
  skipOnError("comclk: open library", [&] {
    currentLibrary_ = tool->text();
    data::opendatabases(libraryFile(currentLibrary_));
  });
  skipOnError("comclk: loadnav", [&] { loadnav(); });
}

service_window::Frmline* frmeq::onlineWindow() const { return frmline_.data(); }

// ---- banner, layout, shutdown ----

void frmeq::Timer2_Timer() {
  skipOnError("Timer2: next banner", [&] {
    const int n = static_cast<int>(banners_.size());
    if (swfIndex_ >= n - 1)
      swfIndex_ = 0;
    else
      ++swfIndex_;
    webBrowser2_->Navigate(common::inProgramFolder("\\swf\\" + banners_.at(static_cast<size_t>(swfIndex_))));
  });
}

void frmeq::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Form_Resize();
}

void frmeq::Form_Resize() {
  const int sw = width();
  const int sh = height();
  skipOnError("Form_Resize: banner area", [&] { picture1_->setGeometry(0, 0, sw, picture1_->height()); });
  skipOnError("Form_Resize: toolbar", [&] {
    const int h = sh - picture1_->height();
    // The toolbar refuses a negative height and keeps its size.
    if (h < 0) throw std::range_error("negative height");
    activeBar31_->setGeometry(0, picture1_->height(), sw, h);
  });
}

void frmeq::Picture1_Resize() {
  skipOnError("Picture1_Resize: banner", [&] { webBrowser2_->widget()->setGeometry(0, 0, picture1_->width(), picture1_->height()); });
}

bool frmeq::eventFilter(QObject* watched, QEvent* event) {
  if (watched == picture1_ && event->type() == QEvent::Resize) Picture1_Resize();
  return QWidget::eventFilter(watched, event);
}

void frmeq::closeEvent(QCloseEvent* event) {
  event->accept();
  if (closing_) return;
  closing_ = true;
  // The program ends at once, the online-service window with it.
  timer1_.stop();
  timer2_.stop();
  closeListener_.reset();
  if (frmline_) frmline_->close();
  if (hooks_.endProgram) hooks_.endProgram();
}

}  // namespace main_window
