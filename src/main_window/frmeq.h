#pragma once
// The main window: the banner strip Picture1 (WebBrowser2) across the top and
// below it the outer toolbar ActiveBar31 with the search, service, upgrade and
// library tools, the category navigator Grid1(0) and the manufacturer
// navigator Grid1(2); its client area Picture2 holds the inner toolbar
// ActiveBar32 with the product grid Grid1(1) over the page view WebBrowser1.
//
// The grids are driven through the data module's NavigatorSession; pages are
// shown through the browser control handed in by the program (or a test).
#include "data/browse.h"
#include "platform/browser/webbrowser.h"
#include "platform/grid/gridview.h"
#include "platform/grid/vsflexgrid.h"
#include "platform/toolbar/activebar.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class CloseRequestListener;
}
namespace service_window {
class Frmline;
}

namespace main_window {

// Height of the banner strip, in twips.
constexpr int kBannerTwips = 1215;
constexpr int kBannerIntervalMs = 5000;
constexpr int kPageCheckMs = 100;
// The window caption when MainPro.ini names none.
inline constexpr const char* kDefaultCaption = "Quillmere";
// The service base address when MainPro.ini names none.
inline constexpr const char* kDefaultServiceBase = "http://price.velmora.com.cn";

using data::kNoLibraryText;
inline constexpr const char* kEnterSearchText = "请录入查询内容!";
inline constexpr const char* kNoUpdaterText = "没有找到升级程序!";

// What the window needs from the program around it.
struct FrmeqHooks {
  // Makes the browser controls (page view, banner strip, online-service window).
  platform::WebBrowserFactory browsers;
  // The shell's "open" of the updater, hidden; the result is not looked at.
  std::function<void(const std::string& path)> startHidden;
  // Ends the program at once (the main window was closed).
  std::function<void()> endProgram;
  // The executable's name without extension, for the start-up marker;
  // empty: the running executable's.
  std::string exeName;
  // Listen for the updater's close request under the window caption.
  bool listenForClose = true;
};

// The hooks the program itself uses: the given browsers, the platform's
// program start, the application's quit.
FrmeqHooks programHooks(platform::WebBrowserFactory browsers);

class frmeq : public QWidget {
  Q_OBJECT
 public:
  explicit frmeq(FrmeqHooks hooks, QWidget* parent = nullptr);
  ~frmeq() override;

  // The load step. False when the program has to end (no library found; the
  // message has been shown).
  bool Form_Load();

  // --- the flow ---------------------------------------------------------------
  void loadnav();
  void Grid1_Click(int index);
  void showpage();
  // The second half of showpage: shows a product's page (the default page,
  // or a page that is checked once loaded) unless it is the one shown, and
  // remembers it in Tag. Other windows that show a product's page in the
  // page view go through here, so that Tag stays true.
  void showPageTarget(const data::PageTarget& target);
  void htmlerr();
  void ActiveBar31_ToolClick(platform::Tool* tool);
  void ActiveBar31_ComboSelChange(platform::Tool* tool);
  void Timer1_Timer();
  void Timer2_Timer();
  void Form_Resize();
  void Picture1_Resize();

  // --- controls and state, as the handlers see them -------------------------
  platform::VSFlexGrid& Grid1(int index) { return *grids_[index]; }
  platform::GridView* Grid1View(int index) { return gridViews_[index]; }
  platform::WebBrowser* WebBrowser1() { return webBrowser1_.get(); }
  platform::WebBrowser* WebBrowser2() { return webBrowser2_.get(); }
  platform::ActiveBar* ActiveBar31() { return activeBar31_; }
  platform::ActiveBar* ActiveBar32() { return activeBar32_; }
  QWidget* Picture1() { return picture1_; }
  QWidget* Picture2() { return picture2_; }
  QTimer* Timer1() { return &timer1_; }
  QTimer* Timer2() { return &timer2_; }
  bool Timer2Running() const { return timer2_.isActive(); }
  int Timer2Interval() const { return timer2Interval_; }
  const std::string& Tag() const { return tag_; }
  const std::string& currentLibrary() const { return currentLibrary_; }
  const std::string& serviceBase() const { return serviceBase_; }
  const std::string& servicePage() const { return servicePage_; }
  short swfIndex() const { return swfIndex_; }
  const std::vector<std::string>& bannerList() const { return banners_; }
  const std::vector<std::string>& libraryList() const { return libraries_; }
  service_window::Frmline* onlineWindow() const;
  data::NavigatorSession& navigator() { return navigator_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void arrangeHidden();
  void readConfiguration();
  void applySetting(const std::string& key, const std::string& value);
  void discoverLibraries();
  void openLibrary(const std::string& name);
  void startBanner();
  void startUpdaterAtStartUp();
  void navigatePage(const std::string& address);
  void setTimer2(int interval, bool enabled);
  std::string libraryFile(const std::string& name) const;
  void WebBrowser1_DocumentComplete();

  FrmeqHooks hooks_;

  // controls
  QWidget* picture1_ = nullptr;
  QWidget* picture2_ = nullptr;
  platform::ActiveBar* activeBar31_ = nullptr;
  platform::ActiveBar* activeBar32_ = nullptr;
  std::unique_ptr<platform::WebBrowser> webBrowser1_;
  std::unique_ptr<platform::WebBrowser> webBrowser2_;
  std::unique_ptr<platform::VSFlexGrid> grids_[3];
  platform::GridView* gridViews_[3] = {nullptr, nullptr, nullptr};
  QTimer timer1_;
  QTimer timer2_;
  QPointer<service_window::Frmline> frmline_;
  std::unique_ptr<platform::CloseRequestListener> closeListener_;
  data::NavigatorSession navigator_;

  // state
  std::string tag_;
  std::string currentLibrary_;
  std::string serviceBase_ = kDefaultServiceBase;
  std::string servicePage_;
  short swfIndex_ = 0;
  std::vector<std::string> banners_;
  std::vector<std::string> libraries_;
  int timer2Interval_ = kBannerIntervalMs;
  bool timer2Enabled_ = true;
  bool pageCheckPending_ = false;
  bool closing_ = false;
};

}  // namespace main_window
