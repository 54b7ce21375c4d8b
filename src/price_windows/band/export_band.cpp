// The export commands on the band: 导出Excel, 打印预览 and 导出PDF of the
// product grid under the title of what it shows, the grid's 复制 in its
// context menu, and the field "拼音简码" in the search field combo.
#include "price_windows/band/command_band.h"

#include "data/browse.h"
#include "platform/grid/gridview.h"
#include "platform/toolbar/activebar.h"
#include "price_tools/pinyin/pinyin_search.h"
#include "price_windows/export/export_commands.h"
#include "price_windows/host.h"

#include <QAction>
#include <QIcon>
#include <QStyle>

#include <algorithm>

namespace price_windows {

namespace ex = price_tools::exporting;

ex::ExportTitle productTitle(Host& host) {
  ex::ExportTitle title{host.currentLibrary(), "", ex::today()};
  const data::NavigatorSession::ShownProducts& shown = host.navigator().shown();
  switch (shown.kind) {
    case data::NavigatorSession::ShownProducts::Category:
      title.shown = ex::describeCategory(host.categoryGrid(), shown.id);
      break;
    case data::NavigatorSession::ShownProducts::Factory:
      title.shown = ex::describeFactory(host.factoryGrid(), shown.id);
      break;
    case data::NavigatorSession::ShownProducts::Search:
      title.shown = ex::describeSearch(shown.field, shown.text);
      break;
    case data::NavigatorSession::ShownProducts::None: break;
  }
  return title;
}

void installExportCommands(CommandBand& band) {
  Host& host = band.host();
  if (platform::ActiveBar* bar = host.outerToolbar()) {
    try {
      platform::Tool* comfind = bar->Tools("comfind");
      const std::vector<std::string> items = comfind->items();
      if (std::find(items.begin(), items.end(), price_tools::pinyin::kSearchByInitials) == items.end())
        comfind->AddItem(price_tools::pinyin::kSearchByInitials);
    } catch (const std::exception&) {
      // A window without the search combo has no pinyin field to offer.
    }
  }
  QStyle* style = band.style();
  QWidget* parent = &host.widget();
  band.addCommand(QString::fromUtf8(kExportExcelText), style->standardIcon(QStyle::SP_DialogSaveButton),
                  [&host, parent] { exportGrid(parent, host.productGrid(), productTitle(host)); });
  band.addCommand(QString::fromUtf8(kPrintPreviewText), style->standardIcon(QStyle::SP_FileDialogContentsView),
                  [&host, parent] { previewGrid(parent, host.productGrid(), productTitle(host)); });
  band.addCommand(QString::fromUtf8(kExportPdfText), style->standardIcon(QStyle::SP_FileIcon),
                  [&host, parent] { exportGridPdf(parent, host.productGrid(), productTitle(host)); });
  if (platform::GridView* view = host.productView()) band.addToProductMenu(view->copyAction());
}

}  // namespace price_windows
