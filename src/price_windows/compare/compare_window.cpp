#include "price_windows/compare/compare_window.h"

#include "data/browse.h"
#include "data/navigation.h"
#include "data/skip_on_error.h"
#include "platform/database/adodb.h"
#include "platform/grid/gridview.h"
#include "platform/grid/vsflexgrid.h"
#include "price_tools/months/month_order.h"
#include "price_windows/host.h"
#include "price_windows/progress/wait_cursor.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <stdexcept>

namespace price_windows {

using price_tools::ComparedRow;
using price_tools::Filter;
using price_tools::Scope;
using price_tools::Status;

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

struct FilterChoice {
  const char* text;
  Filter filter;
};
const FilterChoice kFilters[] = {{"全部", Filter::All},  {"有变动", Filter::Changed}, {"上涨", Filter::Up},
                                 {"下跌", Filter::Down}, {"新增", Filter::New},      {"停用", Filter::Gone}};

const char* statusText(Status s) {
  switch (s) {
    case Status::Up: return "上涨";
    case Status::Down: return "下跌";
    case Status::Same: return "持平";
    case Status::New: return "新增";
    case Status::Gone: return "停用";
  }
  return "";
}

}  // namespace

CompareWindow::CompareWindow(Host& host, QWidget* parent)
    : QWidget(parent, Qt::Window), host_(host), grid_(std::make_unique<platform::VSFlexGrid>()) {
  setWindowTitle(QString::fromUtf8(kCompareTitle));
  setObjectName("CompareWindow");
  from_ = new QComboBox(this);
  to_ = new QComboBox(this);
  price_ = new QComboBox(this);
  scope_ = new QComboBox(this);
  filter_ = new QComboBox(this);
  for (const char* s : {kScopeLibrary, kScopeCategory, kScopeFactory, kScopeSearch}) scope_->addItem(QString::fromUtf8(s));
  for (const FilterChoice& f : kFilters) filter_->addItem(QString::fromUtf8(f.text));

  auto* choices = new QHBoxLayout;
  auto add = [&](const char* label, QComboBox* box) {
    choices->addWidget(new QLabel(QString::fromUtf8(label), this));
    choices->addWidget(box);
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(box, &QComboBox::currentIndexChanged, this, [this] {
      if (!loading_) compare();
    });
  };
  add("原材料库", from_);
  add("新材料库", to_);
  add("价格", price_);
  add("范围", scope_);
  add("显示", filter_);
  choices->addStretch(1);

  grid_->setFixedRows(1);
  grid_->setFixedCols(1);
  view_ = new platform::GridView(grid_.get(), this);
  connect(grid_.get(), &platform::VSFlexGrid::Click, this, &CompareWindow::showPage);
  summary_ = new QLabel(this);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(choices);
  layout->addWidget(view_, 1);
  layout->addWidget(summary_);
  resize(1100, 640);
  reload();
}

CompareWindow::~CompareWindow() = default;

void CompareWindow::reload() {
  loading_ = true;
  const auto ordered = price_tools::inMonthOrder(host_.libraryList());
  from_->clear();
  to_->clear();
  for (const std::string& name : ordered) {
    from_->addItem(qs(name));
    to_->addItem(qs(name));
  }
  const int n = static_cast<int>(ordered.size());
  to_->setCurrentIndex(n - 1);
  from_->setCurrentIndex(n >= 2 ? n - 2 : n - 1);

  const QString keep = price_->currentText();
  price_->clear();
  data::skipOnError("price comparison: price columns", [&] {
    if (ordered.empty()) return;
    for (const auto& c : price_tools::priceColumns(ordered.back())) price_->addItem(qs(c.title));
  });
  if (price_->findText(keep) >= 0) price_->setCurrentText(keep);

  // Scopes that the product grid does not show are not offered.
  const auto& shown = host_.navigator().shown();
  using Shown = data::NavigatorSession::ShownProducts;
  const bool offered[] = {true, shown.kind == Shown::Category, shown.kind == Shown::Factory,
                          shown.kind == Shown::Search};
  // (Item flags through the combo's model: 0 greys an entry out.)
  for (int i = 0; i < 4; ++i) scope_->setItemData(i, offered[i] ? QVariant() : QVariant(0), Qt::UserRole - 1);
  if (!offered[std::max(0, scope_->currentIndex())]) scope_->setCurrentIndex(0);
  loading_ = false;
  compare();
}

Scope CompareWindow::scope() const {
  const auto& shown = host_.navigator().shown();
  using Shown = data::NavigatorSession::ShownProducts;
  const int i = scope_->currentIndex();
  if (i == 1 && shown.kind == Shown::Category) return Scope{Scope::Category, shown.id, "", ""};
  if (i == 2 && shown.kind == Shown::Factory) return Scope{Scope::Factory, shown.id, "", ""};
  if (i == 3 && shown.kind == Shown::Search) return Scope{Scope::Search, "", shown.field, shown.text};
  return Scope{};
}

void CompareWindow::compare() {
  comparison_ = price_tools::Comparison{};
  QString problem;
  const int f = std::max(0, filter_->currentIndex());
  try {
    const WaitCursor busy;
    if (from_->count() == 0) throw std::invalid_argument("没有材料库");
    if (price_->count() == 0) throw std::invalid_argument("没有价格列");
    comparison_ = price_tools::compareLibraries(from_->currentText().toStdString(), to_->currentText().toStdString(),
                                                price_->currentText().toStdString(), scope(), kFilters[f].filter);
  } catch (const std::exception& e) {
    problem = qs(e.what());
  }
  fill();
  if (!problem.isEmpty()) summary_->setText(QString::fromUtf8("无法对比: ") + problem);
}

QString CompareWindow::summaryText() const { return summary_->text(); }

void CompareWindow::fill() {
  platform::VSFlexGrid& g = *grid_;
  platform::GridBatch batch(g);
  g.setCols(ColCount);
  g.setRows(1);
  const char* titles[] = {" ", "产品名称", "规格型号", "单位", "生产厂家", "原价", "现价", "涨跌", "涨跌幅(%)", ""};
  const int widths[] = {200, 2200, 2000, 600, 2600, 1200, 1200, 1100, 1100, 0};
  for (int c = 0; c < ColCount; ++c) {
    g.setTextMatrix(0, c, titles[c]);
    g.setColWidth(c, widths[c]);
    g.setCell(platform::flexcpAlignment, 0, c, platform::flexAlignCenterCenter);
  }
  g.setColHidden(ColRow, true);
  const std::string& format = comparison_.price.format;
  for (int c : {ColOld, ColNew, ColChange}) g.setColFormat(c, format);
  g.setColFormat(ColPercent, "0.00");
  for (int c = ColOld; c <= ColPercent; ++c) g.setColAlignment(c, platform::flexAlignRightCenter);

  auto text = [](const std::optional<price_tools::Decimal>& d) { return d ? d->text() : std::string(); };
  for (size_t i = 0; i < comparison_.rows.size(); ++i) {
    const ComparedRow& r = comparison_.rows[i];
    const price_tools::ProductView p = r.product();
    const int row = g.Rows();
    g.setRows(row + 1);
    g.setTextMatrix(row, ColName, std::string(p.name));
    g.setTextMatrix(row, ColModel, std::string(p.model));
    g.setTextMatrix(row, ColUnit, std::string(p.unit));
    g.setTextMatrix(row, ColFactory, std::string(p.factory));
    g.setTextMatrix(row, ColOld, text(r.oldPrice));
    g.setTextMatrix(row, ColNew, text(r.newPrice));
    g.setTextMatrix(row, ColChange, r.change ? r.change->text() : statusText(r.status));
    g.setTextMatrix(row, ColPercent, text(r.percent));
    g.setTextMatrix(row, ColRow, std::to_string(i));
    if (r.status == Status::Up) g.setCell(platform::flexcpBackColor, row, ColChange, row, ColPercent, kRiseColour);
    if (r.status == Status::Down) g.setCell(platform::flexcpBackColor, row, ColChange, row, ColPercent, kFallColour);
  }

  const auto& s = comparison_.summary;
  summary_->setText(QString::fromUtf8("%1 → %2，%3：上涨 %4，下跌 %5，持平 %6，新增 %7，停用 %8；涨跌中位数 %9")
                        .arg(qs(comparison_.from), qs(comparison_.to), qs(comparison_.price.title))
                        .arg(s.up)
                        .arg(s.down)
                        .arg(s.same)
                        .arg(s.added)
                        .arg(s.gone)
                        .arg(s.medianChange ? qs(platform::formatCellText(format, s.medianChange->text()))
                                            : QString::fromUtf8("—")));
  for (const std::string& note : comparison_.notes) summary_->setText(summary_->text() + QString::fromUtf8("；") + qs(note));
}

// The page of the clicked product, found as the main window finds a product
// row's page (HtmlRelational of the open library, local file or online), shown
// in the main window's page view and checked like any page it shows.
void CompareWindow::showPage() {
  data::skipOnError("price comparison: page", [&] {
    const platform::VSFlexGrid& g = *grid_;
    const int row = g.Row();
    if (row < g.FixedRows() || row >= g.Rows()) return;
    const size_t i = std::stoul(g.TextMatrix(row, ColRow));
    const price_tools::ProductView p = comparison_.rows.at(i).product();
    const data::PageKey key{data::idText(std::string(p.categoryId)), data::idText(std::string(p.factoryId))};
    host_.showPage(data::NavigatorSession::pageOf(key, host_.serviceBase()));
  });
}

}  // namespace price_windows
