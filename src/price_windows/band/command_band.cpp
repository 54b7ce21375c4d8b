#include "price_windows/band/command_band.h"

#include "platform/grid/gridview.h"
#include "platform/grid/vsflexgrid.h"
#include "price_windows/host.h"

#include <QAction>
#include <QBoxLayout>
#include <QContextMenuEvent>
#include <QIcon>
#include <QMenu>
#include <QMouseEvent>

namespace price_windows {

namespace {

// The commands of each part, installed in this order.
void installCommands(CommandBand& band) {
  installPriceCommands(band);
  installExportCommands(band);
  installPriceListCommands(band);
  installLibraryPreparation(band);
}

bool isDataRow(const platform::VSFlexGrid& g, int row) { return row >= g.FixedRows() && row < g.Rows(); }

}  // namespace

CommandBand::CommandBand(Host& host) : QToolBar(QString::fromUtf8(kBandTitle)), host_(host) {
  setObjectName("PriceCommandBand");
  setMovable(false);
  setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  if (platform::GridView* view = host_.productView()) {
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, &CommandBand::showProductMenu);
    view->viewport()->installEventFilter(this);
  }
}

QAction* CommandBand::addCommand(const QString& text, const QIcon& icon, std::function<void()> run) {
  QAction* action = addAction(icon, text);
  connect(action, &QAction::triggered, this, [run = std::move(run)] {
    if (run) run();
  });
  return action;
}

void CommandBand::addToProductMenu(QAction* action) {
  if (action) productMenu_.push_back(action);
}

void CommandBand::addProductDoubleClick(std::function<void()> run) {
  if (run) doubleClicks_.push_back(std::move(run));
}

int CommandBand::productRow() const {
  const platform::VSFlexGrid& g = host_.productGrid();
  if (isDataRow(g, pointedRow_)) return pointedRow_;
  return isDataRow(g, g.Row()) ? g.Row() : -1;
}

// The menu acts on the row under the mouse; the grid's current row and its
// click are left alone (a right click has never moved them).
void CommandBand::showProductMenu(const QPoint& pos) {
  platform::GridView* view = host_.productView();
  if (!view || productMenu_.empty()) return;
  QMenu menu(view);
  for (QAction* a : productMenu_) menu.addAction(a);
  pointedRow_ = view->rowAt(pos.y());
  menu.exec(view->viewport()->mapToGlobal(pos));
  pointedRow_ = -1;
}

// The double click reaches the grid's view as well (the filter lets it
// through); the band's commands run once the view has handled it.
bool CommandBand::eventFilter(QObject* watched, QEvent* event) {
  // The event's type first: the filter also sees the events of the window's
  // teardown, when the window and its views are no longer whole.
  if (event->type() != QEvent::MouseButtonDblClick) return QToolBar::eventFilter(watched, event);
  platform::GridView* view = host_.productView();
  if (view && watched == view->viewport()) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    const int row = view->rowAt(mouse->position().toPoint().y());
    if (mouse->button() == Qt::LeftButton && isDataRow(host_.productGrid(), row) && !doubleClicks_.empty()) {
      QMetaObject::invokeMethod(
          this,
          [this, row] {
            const auto runs = doubleClicks_;
            pointedRow_ = row;
            for (const auto& run : runs) run();
            pointedRow_ = -1;
          },
          Qt::QueuedConnection);
    }
  }
  return QToolBar::eventFilter(watched, event);
}

CommandBand* attachCommandBand(Host& host) {
  QWidget& window = host.widget();
  if (auto* band = window.findChild<CommandBand*>()) return band;
  auto* band = new CommandBand(host);
  QWidget* client = host.clientArea();
  if (auto* box = client ? qobject_cast<QBoxLayout*>(client->layout()) : nullptr) {
    box->insertWidget(0, band);
  } else {
    band->setParent(&window);
  }
  installCommands(*band);
  return band;
}

}  // namespace price_windows
