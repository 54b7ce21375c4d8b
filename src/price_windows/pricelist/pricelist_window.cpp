#include "price_windows/pricelist/pricelist_window.h"

#include "common/program_folder.h"
#include "data/navigation.h"
#include "platform/database/adodb.h"
#include "platform/grid/format.h"
#include "platform/grid/gridview.h"
#include "platform/grid/vsflexgrid.h"
#include "platform/messagebox/messagebox.h"
#include "price_tools/months/month_order.h"
#include "price_tools/pinyin/pinyin_search.h"
#include "price_tools/pricelist/list_export.h"
#include "price_windows/export/export_commands.h"
#include "price_windows/progress/wait_cursor.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>

#include <set>
#include <stdexcept>

namespace price_windows {

namespace pl = price_tools::pricelist;
using price_tools::Decimal;

namespace {

QString qs(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string text(const std::optional<Decimal>& d) { return d ? d->text() : std::string(); }

// The rules for several makers, in the order of the combo (the chosen makers follow).
struct RuleChoice {
  const char* text;
  const char* rule;
};
const RuleChoice kRules[] = {{"平均价", "average"}, {"最低价", "lowest"}, {"最高价", "highest"}, {"中位价", "median"}};

struct FilterChoice {
  const char* text;
  std::optional<pl::MatchStatus> status;
};
const FilterChoice kFilters[] = {{kShowAll, std::nullopt},
                                 {"匹配", pl::MatchStatus::Matched},
                                 {"待确认", pl::MatchStatus::Check},
                                 {"未匹配", pl::MatchStatus::None}};

unsigned statusColour(pl::MatchStatus s) {
  switch (s) {
    case pl::MatchStatus::Matched: return kMatchedColour;
    case pl::MatchStatus::Check: return kCheckColour;
    case pl::MatchStatus::None: return kNoneColour;
  }
  return kNoneColour;
}

bool sameAnswer(const pl::Candidate& a, const pl::Candidate& b) {
  return a.name == b.name && a.model == b.model && a.unit == b.unit && a.factory == b.factory;
}

void header(platform::VSFlexGrid& g, const std::vector<const char*>& titles, const std::vector<int>& widths) {
  g.setCols(static_cast<int>(titles.size()));
  g.setRows(1);
  for (int c = 0; c < g.Cols(); ++c) {
    g.setTextMatrix(0, c, titles[size_t(c)]);
    g.setColWidth(c, widths[size_t(c)]);
    g.setCell(platform::flexcpAlignment, 0, c, platform::flexAlignCenterCenter);
  }
}

// A grid of the window with a fixed header row and column.
std::unique_ptr<platform::VSFlexGrid> newGrid() {
  auto g = std::make_unique<platform::VSFlexGrid>();
  g->setFixedRows(1);
  g->setFixedCols(1);
  return g;
}

}  // namespace

// A library as the window holds it between runs: its file (for the searches),
// its price columns and, once needed, its products with the chosen price
// column, indexed for matching, and the pinyin index of their names.
struct PriceListWindow::Loaded {
  std::unique_ptr<price_tools::LibraryFile> file;
  std::vector<price_tools::PriceColumn> columns;
  std::optional<price_tools::PriceColumn> column;  // the column the catalogue holds
  std::unique_ptr<pl::Catalogue> catalogue;
  std::unique_ptr<price_tools::pinyin::InitialsIndex> initials;
};

PriceListWindow::PriceListWindow(std::vector<std::string> libraries, std::string openLibrary, QWidget* parent)
    : QWidget(parent, Qt::Window), lines_(newGrid()), adjustments_(newGrid()), candidates_(newGrid()) {
  setWindowTitle(QString::fromUtf8(kPriceListTitle));
  setObjectName("PriceListWindow");

  open_ = new QPushButton(QString::fromUtf8("打开清单…"), this);
  connect(open_, &QPushButton::clicked, this, &PriceListWindow::askList);
  file_ = new QLabel(QString::fromUtf8("（未打开清单）"), this);
  file_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  sheet_ = new QComboBox(this);
  library_ = new QComboBox(this);
  priceColumn_ = new QComboBox(this);
  several_ = new QComboBox(this);
  filter_ = new QComboBox(this);
  for (const FilterChoice& f : kFilters) filter_->addItem(QString::fromUtf8(f.text));
  export_ = new QPushButton(QString::fromUtf8("导出…"), this);
  connect(export_, &QPushButton::clicked, this, &PriceListWindow::exportList);

  auto addBox = [this](QHBoxLayout* row, const char* label, QComboBox* box) {
    row->addWidget(new QLabel(QString::fromUtf8(label), this));
    row->addWidget(box);
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  };
  auto* first = new QHBoxLayout;
  first->addWidget(open_);
  first->addWidget(file_, 1);
  sheetLabel_ = new QLabel(QString::fromUtf8("工作表"), this);
  sheetLabel_->setVisible(false);
  first->addWidget(sheetLabel_);
  first->addWidget(sheet_);
  sheet_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  sheet_->setVisible(false);
  connect(sheet_, &QComboBox::currentIndexChanged, this, [this] {
    if (loading_ || !list_ || sheet_->currentText().toStdString() == list_->sheet) return;
    openList(list_->path, sheet_->currentText().toStdString());
  });
  addBox(first, "材料库", library_);
  addBox(first, "价格", priceColumn_);
  addBox(first, "多厂家", several_);
  addBox(first, "显示", filter_);
  first->addWidget(export_);

  adjust_ = new QCheckBox(QString::fromUtf8("调差"), this);
  base_ = new QComboBox(this);
  from_ = new QComboBox(this);
  to_ = new QComboBox(this);
  risk_ = new QLineEdit(QStringLiteral("5"), this);
  risk_->setMaximumWidth(60);
  auto* second = new QHBoxLayout;
  second->addWidget(adjust_);
  addBox(second, "基期材料库", base_);
  addBox(second, "现行材料库", from_);
  addBox(second, "至", to_);
  second->addWidget(new QLabel(QString::fromUtf8("风险幅度(%)"), this));
  second->addWidget(risk_);
  second->addStretch(1);

  for (QComboBox* box : {library_, priceColumn_, several_, base_, from_, to_})
    connect(box, &QComboBox::currentIndexChanged, this, &PriceListWindow::controlsChanged);
  connect(filter_, &QComboBox::currentIndexChanged, this, [this] {
    if (!loading_) fill();
  });
  connect(adjust_, &QCheckBox::toggled, this, &PriceListWindow::controlsChanged);
  connect(risk_, &QLineEdit::editingFinished, this, [this] {
    if (!riskOf(risk_->text())) {
      platform::MsgBox("风险幅度应是 0 到 100 之间的百分数：" + risk_->text().toStdString());
      risk_->setText(QStringLiteral("5"));
    }
    controlsChanged();
  });

  header(*lines_, {" ", "行号", "状态", "名称", "规格型号", "单位", "数量", "匹配材料", "匹配规格", "匹配单位",
                   "生产厂家", "单价", "合价", ""},
         {200, 600, 1150, 2200, 1800, 600, 900, 2200, 1800, 900, 1800, 1000, 1200, 0});
  header(*adjustments_, {" ", "行号", "名称", "规格型号", "单位", "数量", "基期价", "投标价", "现行价",
                         "风险幅度(%)", "调差单价", "调差金额", ""},
         {200, 600, 2200, 1800, 600, 900, 1100, 1100, 1100, 1100, 1100, 1300, 0});
  header(*candidates_, {" ", "选用", "产品名称", "规格型号", "单位", "生产厂家", "单价", "得分"},
         {200, 500, 2400, 2000, 600, 2200, 1100, 600});
  lines_->setColHidden(LIndex, true);
  adjustments_->setColHidden(AIndex, true);
  for (int c : {LQuantity, LPrice, LAmount}) lines_->setColAlignment(c, platform::flexAlignRightCenter);
  for (int c = AQuantity; c <= AAmount; ++c) adjustments_->setColAlignment(c, platform::flexAlignRightCenter);
  for (int c : {CPrice, CScore}) candidates_->setColAlignment(c, platform::flexAlignRightCenter);
  candidates_->setColAlignment(CChosen, platform::flexAlignCenterCenter);
  lines_->setColFormat(LAmount, "0.00");
  for (int c : {APerUnit, AAmount}) adjustments_->setColFormat(c, "0.00");

  auto* linesView = new platform::GridView(lines_.get(), this);
  auto* adjustView = new platform::GridView(adjustments_.get(), this);
  auto* candidatesView = new platform::GridView(candidates_.get(), this);
  connect(lines_.get(), &platform::VSFlexGrid::Click, this, [this] { lineClicked(*lines_, LIndex); });
  connect(adjustments_.get(), &platform::VSFlexGrid::Click, this, [this] { lineClicked(*adjustments_, AIndex); });
  connect(candidates_.get(), &platform::VSFlexGrid::Click, this, [this] {
    const int row = candidates_->Row();
    if (row >= candidates_->FixedRows() && row < candidates_->Rows()) chooseShown(row - candidates_->FixedRows());
  });

  summary_ = new QLabel(this);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  adjustSummary_ = new QLabel(this);
  adjustSummary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* adjustPage = new QWidget(this);
  auto* adjustLayout = new QVBoxLayout(adjustPage);
  adjustLayout->setContentsMargins(0, 0, 0, 0);
  adjustLayout->addWidget(adjustView, 1);
  adjustLayout->addWidget(adjustSummary_);
  tabs_ = new QTabWidget(this);
  tabs_->addTab(linesView, QString::fromUtf8("载价"));
  tabs_->addTab(adjustPage, QString::fromUtf8("调差"));

  // The selected line.
  line_ = new QLabel(QString::fromUtf8("（未选择清单行）"), this);
  line_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  candidatesTitle_ = new QLabel(QString::fromUtf8("候选材料（单击一行选用）"), this);
  searchField_ = new QComboBox(this);
  for (const char* f : {data::kSearchByName, data::kSearchByFactory, price_tools::pinyin::kSearchByInitials})
    searchField_->addItem(QString::fromUtf8(f));
  searchText_ = new QLineEdit(this);
  searchText_->setPlaceholderText(QString::fromUtf8("查找其他材料"));
  connect(searchText_, &QLineEdit::returnPressed, this, &PriceListWindow::search);
  auto* find = new QPushButton(QString::fromUtf8("查找"), this);
  connect(find, &QPushButton::clicked, this, &PriceListWindow::search);
  auto* none = new QPushButton(QString::fromUtf8("无匹配材料"), this);
  connect(none, &QPushButton::clicked, this, &PriceListWindow::chooseNone);
  auto* clear = new QPushButton(QString::fromUtf8("取消选择"), this);
  connect(clear, &QPushButton::clicked, this, &PriceListWindow::clearChoice);
  lineRisk_ = new QLineEdit(this);
  lineRisk_->setPlaceholderText(QString::fromUtf8("同清单"));
  lineRisk_->setMaximumWidth(70);
  connect(lineRisk_, &QLineEdit::editingFinished, this, &PriceListWindow::applyLineRisk);

  auto* tools = new QHBoxLayout;
  tools->addWidget(candidatesTitle_);
  tools->addStretch(1);
  tools->addWidget(searchField_);
  tools->addWidget(searchText_);
  tools->addWidget(find);
  tools->addWidget(none);
  tools->addWidget(clear);
  tools->addWidget(new QLabel(QString::fromUtf8("本行风险幅度(%)"), this));
  tools->addWidget(lineRisk_);
  auto* linePanel = new QWidget(this);
  auto* lineLayout = new QVBoxLayout(linePanel);
  lineLayout->setContentsMargins(0, 0, 0, 0);
  lineLayout->addWidget(line_);
  lineLayout->addLayout(tools);
  lineLayout->addWidget(candidatesView, 1);

  auto* split = new QSplitter(Qt::Vertical, this);
  body_ = split;
  split->addWidget(tabs_);
  split->addWidget(linePanel);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);

  progress_ = new QProgressBar(this);
  progress_->setFormat(QString::fromUtf8("载价 %v / %m 行"));
  progress_->hide();
  cancel_ = new QPushButton(QString::fromUtf8("取消"), this);
  cancel_->hide();
  connect(cancel_, &QPushButton::clicked, this, &PriceListWindow::cancelPricing);
  auto* foot = new QHBoxLayout;
  foot->addWidget(summary_, 1);
  foot->addWidget(progress_);
  foot->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(first);
  layout->addLayout(second);
  layout->addWidget(split, 1);
  layout->addLayout(foot);
  resize(1300, 820);
  setLibraries(std::move(libraries), std::move(openLibrary));
}

PriceListWindow::~PriceListWindow() = default;

void PriceListWindow::setLibraries(std::vector<std::string> libraries, std::string openLibrary) {
  libraries_ = price_tools::inMonthOrder(libraries);
  openLibrary_ = std::move(openLibrary);
  for (auto it = loaded_.begin(); it != loaded_.end();)
    it = std::find(libraries_.begin(), libraries_.end(), it->first) == libraries_.end() ? loaded_.erase(it) : ++it;
  fillLibraries();
  controlsChanged();
}

void PriceListWindow::fillLibraries() {
  loading_ = true;
  const QString keep = library_->currentText(), keepBase = base_->currentText(), keepFrom = from_->currentText(),
                keepTo = to_->currentText();
  for (QComboBox* box : {library_, base_, from_, to_}) {
    box->clear();
    for (const std::string& name : libraries_) box->addItem(qs(name));
  }
  const int n = static_cast<int>(libraries_.size());
  auto choose = [](QComboBox* box, const QString& kept, int otherwise) {
    box->setCurrentIndex(box->findText(kept) >= 0 ? box->findText(kept) : otherwise);
  };
  const auto open = std::find(libraries_.begin(), libraries_.end(), openLibrary_);
  choose(library_, keep, open != libraries_.end() ? int(open - libraries_.begin()) : n - 1);
  choose(base_, keepBase, 0);
  choose(from_, keepFrom, n - 1);
  choose(to_, keepTo, n - 1);
  loading_ = false;
}

PriceListWindow::Loaded& PriceListWindow::loaded(const std::string& library) {
  auto& slot = loaded_[library];
  if (!slot) {
    auto fresh = std::make_unique<Loaded>();
    fresh->file = std::make_unique<price_tools::LibraryFile>(library);
    fresh->columns = fresh->file->priceColumns();
    slot = std::move(fresh);
  }
  return *slot;
}

// The library's products with the price column chosen (by its title), read
// once and kept until another column is chosen.
const pl::Catalogue& PriceListWindow::catalogue(const std::string& library) {
  Loaded& l = loaded(library);
  const std::string title = priceColumn_->currentText().toStdString();
  if (!l.catalogue || !l.column || l.column->title != title) {
    const auto column = price_tools::findPriceColumn(l.columns, title);
    if (!column) throw std::invalid_argument("材料库“" + library + "”没有价格列“" + title + "”");
    if (!synonyms_) synonyms_ = pl::Synonyms::forProgramFolder(common::programFolder());
    l.catalogue.reset();
    l.initials.reset();
    auto products =
        std::make_shared<const price_tools::LibraryProducts>(l.file->products(column->field, nullptr, "", false));
    l.catalogue = std::make_unique<pl::Catalogue>(std::move(products), *synonyms_);
    l.column = column;
  }
  return *l.catalogue;
}

void PriceListWindow::fillPriceColumns() {
  const QString keep = priceColumn_->currentText();
  priceColumn_->clear();
  if (library_->count() == 0) return;
  for (const auto& c : loaded(library_->currentText().toStdString()).columns) priceColumn_->addItem(qs(c.title));
  if (priceColumn_->findText(keep) >= 0) priceColumn_->setCurrentText(keep);
}

// The rules, then one entry per maker of the pricing library.
void PriceListWindow::fillSeveral() {
  const QVariant keep = several_->currentData();
  several_->clear();
  for (const RuleChoice& r : kRules) several_->addItem(QString::fromUtf8(r.text), QString::fromUtf8(r.rule));
  if (library_->count() > 0 && priceColumn_->count() > 0) {
    const auto& factories = catalogue(library_->currentText().toStdString()).library().factories;
    std::vector<std::pair<std::string, std::string>> byName;
    for (const auto& [id, name] : factories) byName.emplace_back(name, id);
    std::sort(byName.begin(), byName.end());
    for (const auto& [name, id] : byName)
      several_->addItem(QString::fromUtf8("指定厂家：") + qs(name), qs("factory:" + id));
  }
  const int at = several_->findData(keep);
  several_->setCurrentIndex(at >= 0 ? at : 0);
}

void PriceListWindow::controlsChanged() {
  if (loading_) return;
  const bool on = adjust_->isChecked();
  for (QWidget* w : {static_cast<QWidget*>(base_), static_cast<QWidget*>(from_), static_cast<QWidget*>(to_),
                     static_cast<QWidget*>(risk_), static_cast<QWidget*>(lineRisk_)})
    w->setEnabled(on);
  tabs_->setTabEnabled(1, on);
  price();
}

std::vector<std::string> PriceListWindow::periodLibraries() const {
  int from = from_->currentIndex(), to = to_->currentIndex();
  if (from < 0 || to < 0) return {};
  if (from > to) std::swap(from, to);
  return std::vector<std::string>(libraries_.begin() + from, libraries_.begin() + to + 1);
}

// "5" -> 0.05, exactly; nullopt for anything but a per cent from 0 to under 100.
std::optional<Decimal> PriceListWindow::riskOf(const QString& percent) const {
  const auto p = Decimal::parse(percent.trimmed().toStdString());
  if (!p || p->sign() < 0 || !(*p < Decimal(100, 0))) return std::nullopt;
  return Decimal::quotient(*p, Decimal(100, 0), std::min(12, p->scale() + 2));
}

// The base and current months' prices of the priced list's answers, read
// again only when an answer was not among those read.
void PriceListWindow::applyPeriodPrices() {
  if (!priced_ || !priced_->adjusted) {
    period_.reset();
    return;
  }
  if (!period_ || !period_->covers(*priced_)) {
    period_.reset();
    pl::PricingOptions options;
    options.base = priced_->base;
    options.current = priced_->current;
    options.several = priced_->several;
    period_ = pl::PeriodPrices::read(*priced_, priced_->price.field, options);
  }
  period_->apply(*priced_);
}

void PriceListWindow::askList() {
  const QString path = QFileDialog::getOpenFileName(this, QString::fromUtf8("打开材料清单"), QString(),
                                                    QString::fromUtf8("材料清单 (*.xlsx *.csv);;所有文件 (*)"));
  if (!path.isEmpty()) openList(path.toStdString());
}

bool PriceListWindow::openList(const std::string& path, const std::string& sheet) {
  std::shared_ptr<const pl::MaterialList> list;
  try {
    const WaitCursor busy;
    list = std::make_shared<const pl::MaterialList>(pl::readMaterialList(path, sheet));
  } catch (const std::exception& e) {
    platform::MsgBox(std::string("无法打开材料清单：") + e.what());
    return false;
  }
  // Choices of a file that cannot be read are not written over: the list is
  // priced without them and new choices are not kept.
  pl::Choices choices;
  choicesKept_ = true;
  try {
    choices = pl::Choices::load(pl::Choices::besidePath(path));
  } catch (const std::exception& e) {
    choicesKept_ = false;
    platform::MsgBox(std::string("无法读取保存的选择：") + e.what() + "\n本次的选择不会保存。");
  }
  list_ = std::move(list);
  choices_ = std::move(choices);
  lineRisks_.clear();
  selected_ = -1;
  file_->setText(QFileInfo(qs(path)).fileName());
  file_->setToolTip(qs(path));
  loading_ = true;
  sheet_->clear();
  for (const std::string& name : list_->sheets) sheet_->addItem(qs(name));
  sheet_->setCurrentText(qs(list_->sheet));
  sheet_->setVisible(list_->sheets.size() > 1);
  sheetLabel_->setVisible(list_->sheets.size() > 1);
  loading_ = false;
  price();
  return true;
}

void PriceListWindow::price() {
  cancelled_ = false;
  if (library_->count() > 0 && columnsFor_ != library_->currentText().toStdString()) {
    loading_ = true;
    try {
      fillPriceColumns();
      columnsFor_ = library_->currentText().toStdString();
    } catch (const ado::Error& e) {
      summary_->setText(QString::fromUtf8("无法读取材料库：") + qs(e.description));
    }
    loading_ = false;
  }
  if (!list_) {
    fill();
    return;
  }
  QString problem;
  priced_.reset();
  try {
    const WaitCursor busy;
    if (library_->count() == 0) throw std::invalid_argument("没有材料库");
    const std::string library = library_->currentText().toStdString();
    const pl::Catalogue& catalogue = this->catalogue(library);
    // The products of a library priced from before are not kept.
    for (auto& [name, held] : loaded_)
      if (name != library) {
        held->catalogue.reset();
        held->initials.reset();
        held->column.reset();
      }
    if (severalFor_ != library) {
      loading_ = true;
      fillSeveral();
      loading_ = false;
      severalFor_ = library;
    }
    pl::PricingOptions options;
    options.library = library;
    options.priceTitle = priceColumn_->currentText().toStdString();
    options.several = pl::SeveralRule::parse(several_->currentData().toString().toStdString()).value_or(pl::SeveralRule{});
    period_.reset();
    if (adjust_->isChecked() && base_->count() > 0) {
      options.base = base_->currentText().toStdString();
      options.current = periodLibraries();
      options.risk = riskOf(risk_->text()).value_or(Decimal(5, 2));
    }
    progress_->setRange(0, static_cast<int>(list_->lines.size()));
    progress_->setValue(0);
    progress_->show();
    cancel_->show();
    // While it runs only 取消 answers: the window's events are processed
    // between lines, and nothing else may change the list meanwhile.
    std::vector<QWidget*> off;
    for (QWidget* w : std::initializer_list<QWidget*>{open_, sheet_, library_, priceColumn_, several_, filter_, export_,
                                                      adjust_, base_, from_, to_, risk_, body_})
      if (w->isEnabled()) {
        w->setEnabled(false);
        off.push_back(w);
      }
    struct Restore {
      std::vector<QWidget*>& widgets;
      QPushButton* cancel;
      ~Restore() {
        for (QWidget* w : widgets) w->setEnabled(true);
        cancel->hide();
      }
    } restore{off, cancel_};
    priced_ = pl::priceListWith(list_, catalogue, *loaded(library).column, options, choices_, nullptr, {},
                                [this](int done, int total) {
                                  progress_->setRange(0, total);
                                  progress_->setValue(done);
                                  QApplication::processEvents();
                                  return !cancelled_;
                                });
    for (const auto& [i, risk] : lineRisks_)
      if (i < priced_->lines.size()) priced_->lines[i].risk = risk;
    applyPeriodPrices();
    pl::recomputeTotals(*priced_);
  } catch (const std::exception& e) {
    problem = qs(e.what());
  }
  progress_->hide();
  if (priced_ && selected_ >= static_cast<int>(priced_->lines.size())) selected_ = -1;
  fill();
  if (cancelled_) {
    priced_.reset();
    summary_->setText(QString::fromUtf8("载价已取消；更改任一选项即重新载价"));
  } else if (!problem.isEmpty()) {
    priced_.reset();
    summary_->setText(QString::fromUtf8("无法载价：") + problem);
  }
}

void PriceListWindow::fill() {
  platform::VSFlexGrid& g = *lines_;
  platform::VSFlexGrid& a = *adjustments_;
  {
    platform::GridBatch batchLines(g);
    platform::GridBatch batchAdjust(a);
    g.setRows(1);
    a.setRows(1);
    if (priced_) {
      const auto& filter = kFilters[std::max(0, filter_->currentIndex())].status;
      const std::string format = priced_->price.format;
      g.setColFormat(LPrice, format);
      for (int c : {ABase, ABid, ACurrent}) a.setColFormat(c, format);
      for (size_t i = 0; i < priced_->lines.size(); ++i) {
        const pl::PricedLine& p = priced_->lines[i];
        if (filter && p.status != *filter) continue;
        const pl::ListLine& l = *p.line;
        const int row = g.Rows();
        g.setRows(row + 1);
        g.setTextMatrix(row, LRow, std::to_string(l.row));
        g.setTextMatrix(row, LStatus, std::string(pl::statusText(p.status)) + (p.chosen ? "（选）" : ""));
        g.setTextMatrix(row, LName, l.name);
        g.setTextMatrix(row, LModel, l.model);
        g.setTextMatrix(row, LUnit, l.unit);
        g.setTextMatrix(row, LQuantity, text(l.quantity));
        if (p.match) {
          g.setTextMatrix(row, LMatch, p.match->name);
          g.setTextMatrix(row, LMatchModel, p.match->model);
          g.setTextMatrix(row, LMatchUnit, p.match->unit);
          g.setTextMatrix(row, LFactory, p.match->factory.empty() && p.match->products.size() > 1
                                             ? "（" + std::to_string(p.match->products.size()) + "家）"
                                             : p.match->factory);
          g.setTextMatrix(row, LPrice, text(p.match->price));
        }
        g.setTextMatrix(row, LAmount, text(p.amount));
        g.setTextMatrix(row, LIndex, std::to_string(i));
        g.setCell(platform::flexcpBackColor, row, LStatus, statusColour(p.status));

        if (!priced_->adjusted) continue;
        const int arow = a.Rows();
        a.setRows(arow + 1);
        a.setTextMatrix(arow, ARow, std::to_string(l.row));
        a.setTextMatrix(arow, AName, l.name);
        a.setTextMatrix(arow, AModel, l.model);
        a.setTextMatrix(arow, AUnit, l.unit);
        a.setTextMatrix(arow, AQuantity, text(l.quantity));
        a.setTextMatrix(arow, ABase, text(p.basePrice));
        a.setTextMatrix(arow, ABid, text(l.bid ? l.bid : p.basePrice));
        a.setTextMatrix(arow, ACurrent, text(p.currentPrice));
        const Decimal risk = p.risk ? *p.risk : priced_->risk;
        a.setTextMatrix(arow, ARisk, (risk * Decimal(100, 0)).text());
        if (p.adjustment) {
          a.setTextMatrix(arow, APerUnit, p.adjustment->perUnit.text());
          a.setTextMatrix(arow, AAmount, p.adjustment->amount.text());
          if (p.adjustment->amount.sign() > 0)
            a.setCell(platform::flexcpBackColor, arow, APerUnit, arow, AAmount, kNoneColour);
          if (p.adjustment->amount.sign() < 0)
            a.setCell(platform::flexcpBackColor, arow, APerUnit, arow, AAmount, kMatchedColour);
        }
        if (p.risk) a.setCell(platform::flexcpBackColor, arow, ARisk, kCheckColour);
        a.setTextMatrix(arow, AIndex, std::to_string(i));
      }
    }
  }
  if (!priced_) {
    summary_->setText(list_ ? QString() : QString::fromUtf8("请打开材料清单（.xlsx 或 .csv）"));
    adjustSummary_->clear();
  } else {
    const auto money = [](const Decimal& d) { return qs(platform::formatCellText("#,##0.00", d.text())); };
    summary_->setText(QString::fromUtf8("%1：共 %2 行，匹配 %3，待确认 %4，未匹配 %5；合价合计 %6")
                          .arg(qs(priced_->library))
                          .arg(priced_->lines.size())
                          .arg(priced_->matched)
                          .arg(priced_->check)
                          .arg(priced_->none)
                          .arg(money(priced_->total)));
    if (const size_t sums = priced_->list->subtotalRows.size())
      summary_->setText(summary_->text() + QString::fromUtf8("（清单自带的小计、合计 %1 行未计入）").arg(sums));
    if (priced_->adjusted) {
      const auto& t = priced_->adjustmentTotals;
      const std::string current = priced_->current.size() == 1
                                      ? priced_->current.front()
                                      : priced_->current.front() + " 至 " + priced_->current.back() + " 的平均价";
      adjustSummary_->setText(QString::fromUtf8("基期 %1，现行 %2，风险幅度 %3%：调增 %4，调减 %5，净额 %6")
                                  .arg(qs(priced_->base), qs(current), qs((priced_->risk * Decimal(100, 0)).text()),
                                       money(t.rises), money(t.falls), money(t.net)));
    } else {
      adjustSummary_->setText(QString::fromUtf8("勾选“调差”并选择基期和现行材料库"));
    }
  }
  fillLine(selected_);
}

void PriceListWindow::lineClicked(platform::VSFlexGrid& grid, int indexColumn) {
  const int row = grid.Row();
  if (row < grid.FixedRows() || row >= grid.Rows()) return;
  selectLine(std::stoi(grid.TextMatrix(row, indexColumn)));
}

void PriceListWindow::selectLine(int line) {
  selected_ = priced_ && line >= 0 && line < static_cast<int>(priced_->lines.size()) ? line : -1;
  fillLine(selected_);
}

void PriceListWindow::fillLine(int line) {
  if (!priced_ || line < 0 || line >= static_cast<int>(priced_->lines.size())) {
    line_->setText(QString::fromUtf8("（未选择清单行）"));
    lineRisk_->clear();
    showCandidates({}, false);
    return;
  }
  const pl::PricedLine& p = priced_->lines[size_t(line)];
  const pl::ListLine& l = *p.line;
  QString what = QString::fromUtf8("第 %1 行：%2  %3  %4  数量 %5  —  %6")
                     .arg(l.row)
                     .arg(qs(l.name), qs(l.model), qs(l.unit), qs(text(l.quantity)),
                          QString::fromUtf8(pl::statusText(p.status)));
  if (p.chosen) what += QString::fromUtf8("（已选择）");
  line_->setText(what);
  const auto risk = lineRisks_.find(size_t(line));
  lineRisk_->setText(risk == lineRisks_.end() ? QString() : qs((risk->second * Decimal(100, 0)).text()));
  std::vector<pl::Candidate> shown = p.candidates;
  if (p.match && std::none_of(shown.begin(), shown.end(), [&](const pl::Candidate& c) { return sameAnswer(c, *p.match); }))
    shown.insert(shown.begin(), *p.match);
  showCandidates(std::move(shown), false);
}

void PriceListWindow::showCandidates(std::vector<pl::Candidate> shown, bool searched) {
  shown_ = std::move(shown);
  const pl::PricedLine* p = priced_ && selected_ >= 0 ? &priced_->lines[size_t(selected_)] : nullptr;
  platform::VSFlexGrid& g = *candidates_;
  platform::GridBatch batch(g);
  g.setRows(1);
  if (priced_) g.setColFormat(CPrice, priced_->price.format);
  for (const pl::Candidate& c : shown_) {
    const int row = g.Rows();
    g.setRows(row + 1);
    const bool isMatch = p && p->match && sameAnswer(*p->match, c);
    g.setTextMatrix(row, CChosen, isMatch ? "✔" : "");
    g.setTextMatrix(row, CName, c.name);
    g.setTextMatrix(row, CModel, c.model);
    g.setTextMatrix(row, CUnit, c.unit);
    g.setTextMatrix(row, CFactory, c.factory.empty() && c.products.size() > 1
                                       ? "（" + std::to_string(c.products.size()) + "家）"
                                       : c.factory);
    g.setTextMatrix(row, CPrice, text(c.price));
    // A product chosen from a search was never ranked: no score.
    if (!searched && c.score > 0) g.setTextMatrix(row, CScore, std::to_string(c.score));
    if (isMatch) g.setCell(platform::flexcpBackColor, row, CChosen, row, CScore, kMatchedColour);
  }
  candidatesTitle_->setText(searched ? QString::fromUtf8("查找结果：%1 项（单击一行选用）").arg(shown_.size())
                                     : QString::fromUtf8("候选材料（单击一行选用）"));
}

void PriceListWindow::chooseShown(int row) {
  if (!priced_ || selected_ < 0 || row < 0 || row >= static_cast<int>(shown_.size())) return;
  const pl::Candidate answer = shown_[size_t(row)];
  applyChoice(pl::Choice{false, answer.name, answer.model, answer.unit, answer.factory}, answer);
}

void PriceListWindow::chooseNone() {
  if (!priced_ || selected_ < 0) return;
  applyChoice(pl::Choice{true, "", "", "", ""}, std::nullopt);
}

// A choice for the selected line holds for every line written the same way.
void PriceListWindow::applyChoice(const pl::Choice& choice, const std::optional<pl::Candidate>& answer) {
  const std::string key = pl::Choices::keyOf(*priced_->lines[size_t(selected_)].line);
  choices_.set(*priced_->lines[size_t(selected_)].line, choice);
  saveChoices();
  repriced([&] {
    const WaitCursor busy;
    for (size_t i = 0; i < priced_->lines.size(); ++i) {
      pl::PricedLine& p = priced_->lines[i];
      if (pl::Choices::keyOf(*p.line) != key) continue;
      p.match = answer;
      p.chosen = true;
      p.status = answer ? pl::MatchStatus::Matched : pl::MatchStatus::None;
      pl::repriceLine(*priced_, i, nullptr, {});
    }
  });
}

// Runs a change of some lines' prices, then brings the period prices and the
// totals after it and shows the list again; a failure is said in a box.
void PriceListWindow::repriced(const std::function<void()>& change) {
  try {
    change();
    applyPeriodPrices();
    pl::recomputeTotals(*priced_);
  } catch (const std::exception& e) {
    platform::MsgBox(std::string("无法载价：") + e.what());
  }
  fill();
}

void PriceListWindow::clearChoice() {
  if (!priced_ || selected_ < 0) return;
  const pl::ListLine& line = *priced_->lines[size_t(selected_)].line;
  if (!choices_.find(line)) return;
  choices_.clear(line);
  saveChoices();
  price();
}

void PriceListWindow::saveChoices() {
  if (!list_ || !choicesKept_) return;
  try {
    choices_.save(pl::Choices::besidePath(list_->path));
  } catch (const std::exception& e) {
    platform::MsgBox(std::string("无法保存选择：") + e.what());
  }
}

// The answers of the library's products that the toolbar's search of that
// field finds (产品名称, 生产厂家), or whose name's initials hold the letters
// typed (拼音简码), in the library's order; at most kMostFound answers.
void PriceListWindow::search() {
  constexpr size_t kMostFound = 200;
  const std::string typed = searchText_->text().trimmed().toStdString();
  if (!priced_ || selected_ < 0 || typed.empty()) return;
  std::vector<pl::Candidate> found;
  try {
    const WaitCursor busy;
    const std::string library = priced_->library;
    const pl::Catalogue& catalogue = this->catalogue(library);
    Loaded& l = loaded(library);
    const auto& products = catalogue.library().products;
    const std::string field = searchField_->currentText().toStdString();
    std::set<std::string> ids;
    if (field == price_tools::pinyin::kSearchByInitials) {
      if (!l.initials) {
        l.initials = std::make_unique<price_tools::pinyin::InitialsIndex>();
        for (const auto& p : products) {
          char* end = nullptr;
          const long long id = std::strtoll(p.id.c_str(), &end, 10);
          if (!p.id.empty() && end && *end == '\0') l.initials->add(id, p.name);
        }
      }
      for (long long id : l.initials->find(l.initials->coder().typedLetters(typed))) ids.insert(std::to_string(id));
    } else {
      ids = l.file->searchIds(field, typed);
    }
    for (size_t i = 0; i < products.size() && found.size() < kMostFound; ++i) {
      if (!ids.count(products[i].id)) continue;
      auto answer = catalogue.answerOf(static_cast<int>(i), priced_->several);
      if (answer && std::none_of(found.begin(), found.end(), [&](const pl::Candidate& c) { return sameAnswer(c, *answer); }))
        found.push_back(std::move(*answer));
    }
  } catch (const ado::Error& e) {
    platform::MsgBox("无法查找：" + e.description);
    return;
  }
  showCandidates(std::move(found), true);
}

void PriceListWindow::applyLineRisk() {
  if (!priced_ || selected_ < 0) return;
  const QString typed = lineRisk_->text().trimmed();
  const size_t i = size_t(selected_);
  if (typed.isEmpty()) {
    if (!lineRisks_.erase(i)) return;
    priced_->lines[i].risk.reset();
  } else {
    const auto risk = riskOf(typed);
    if (!risk) {
      platform::MsgBox("风险幅度应是 0 到 100 之间的百分数：" + typed.toStdString());
      fillLine(selected_);
      return;
    }
    if (lineRisks_.count(i) && lineRisks_[i] == *risk) return;
    lineRisks_[i] = *risk;
    priced_->lines[i].risk = *risk;
  }
  repriced([&] { pl::repriceLine(*priced_, i, nullptr, {}); });
}

bool PriceListWindow::exportList() {
  if (!priced_) {
    platform::MsgBox("请先打开材料清单。");
    return false;
  }
  const QStringList filters = {QStringLiteral("Excel 工作簿 (*.xlsx)"), QStringLiteral("CSV UTF-8 (*.csv)"),
                               QStringLiteral("CSV GBK (*.csv)")};
  const QFileInfo list(qs(list_->path));
  QString filter = filters.front();
  QString path = askSaveFile(this, QString::fromUtf8("导出载价清单"),
                             list.absoluteDir().filePath(list.completeBaseName() + QString::fromUtf8("-载价.xlsx")),
                             filters, &filter);
  if (path.isEmpty()) return false;
  const int kind = std::max<qsizetype>(0, filters.indexOf(filter));
  path = withExtension(path, kind == 0 ? QStringLiteral(".xlsx") : QStringLiteral(".csv"));
  // The user's own list and its choices are never written over.
  const QFileInfo target(path);
  for (const QString& own : {list.absoluteFilePath(), QFileInfo(qs(pl::Choices::besidePath(list_->path))).absoluteFilePath()}) {
    const QFileInfo o(own);
    if (target.absoluteFilePath() == o.absoluteFilePath() ||
        (target.exists() && o.exists() && target.canonicalFilePath() == o.canonicalFilePath())) {
      platform::MsgBox("不能覆盖材料清单本身：" + target.fileName().toStdString());
      return false;
    }
  }
  const std::string file = path.toStdString();
  const pl::PricedList& priced = *priced_;
  return exportWithProgress(this, QStringLiteral("正在导出 %1 …").arg(target.fileName()),
                            [&](const price_tools::exporting::Progress& progress) {
                              if (kind == 0) return pl::writePricedXlsx(priced, file, progress);
                              return pl::writePricedCsv(priced, file, kind == 2, progress);
                            });
}

QString PriceListWindow::summaryText() const { return summary_->text(); }

int PriceListWindow::heldCatalogues() const {
  int n = 0;
  for (const auto& [name, held] : loaded_) n += held->catalogue != nullptr;
  return n;
}
QString PriceListWindow::adjustmentSummaryText() const { return adjustSummary_->text(); }
QString PriceListWindow::lineText() const { return line_->text(); }

}  // namespace price_windows
