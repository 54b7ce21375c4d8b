#include "price_windows/history/history_window.h"

#include "data/skip_on_error.h"
#include "platform/database/adodb.h"
#include "platform/grid/gridview.h"
#include "platform/grid/vsflexgrid.h"
#include "price_windows/progress/wait_cursor.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QScatterSeries>
#include <QSplitter>
#include <QToolTip>
#include <QValueAxis>
#include <QVBoxLayout>

#include <stdexcept>

namespace price_windows {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// The label of a point on the month axis: its month, or the library's name.
QString axisLabel(const price_tools::HistoryPoint& p) { return p.month ? qs(p.month->text()) : qs(p.library); }

}  // namespace

HistoryWindow::HistoryWindow(const std::string& productId, const std::string& library,
                             std::vector<std::string> libraries, QWidget* parent)
    : QWidget(parent, Qt::Window),
      productId_(productId),
      library_(library),
      libraries_(std::move(libraries)),
      table_(std::make_unique<platform::VSFlexGrid>()) {
  setWindowTitle(QString::fromUtf8(kHistoryTitle));
  setObjectName("HistoryWindow");
  headline_ = new QLabel(this);
  price_ = new QComboBox(this);
  price_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  data::skipOnError("price history: price columns", [&] {
    for (const auto& c : price_tools::priceColumns(library_)) price_->addItem(qs(c.title));
  });
  connect(price_, &QComboBox::currentIndexChanged, this, [this] {
    if (!loading_) load();
  });
  auto* top = new QHBoxLayout;
  top->addWidget(headline_, 1);
  top->addWidget(new QLabel(QString::fromUtf8("价格"), this));
  top->addWidget(price_);

  chart_ = new QChartView(new QChart, this);
  chart_->setRenderHint(QPainter::Antialiasing);
  chart_->chart()->legend()->hide();
  chart_->setMinimumHeight(260);

  table_->setFixedRows(1);
  table_->setFixedCols(1);
  tableView_ = new platform::GridView(table_.get(), this);

  auto* split = new QSplitter(Qt::Vertical, this);
  split->addWidget(chart_);
  split->addWidget(tableView_);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(split, 1);
  resize(900, 640);
  load();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::load() {
  loading_ = true;
  history_ = price_tools::History{};
  QString problem;
  try {
    const WaitCursor busy;
    if (price_->count() == 0) throw std::invalid_argument("没有价格列");
    history_ = price_tools::productHistory(productId_, library_, price_->currentText().toStdString(), libraries_);
  } catch (const std::exception& e) {
    problem = qs(e.what());
  }
  const price_tools::Product& p = history_.product;
  headline_->setText(problem.isEmpty()
                         ? QString::fromUtf8("%1  %2  %3  %4").arg(qs(p.name), qs(p.model), qs(p.unit), qs(p.factory))
                         : QString::fromUtf8("无法读取价格走势: ") + problem);
  draw();
  fillTable();
  loading_ = false;
}

QString HistoryWindow::headline() const { return headline_->text(); }

QString HistoryWindow::pointText(int index) const {
  if (index < 0 || index >= static_cast<int>(history_.points.size())) return {};
  const auto& pt = history_.points[static_cast<size_t>(index)];
  const QString price = pt.price ? qs(platform::formatCellText(history_.price.format, pt.price->text()))
                                 : QString::fromUtf8("无");
  return QString::fromUtf8("%1\n%2: %3").arg(qs(pt.library), qs(history_.price.title), price);
}

// One line per run of months that have the price, so a missing month leaves
// a gap; every point also gets a dot that shows its value under the mouse.
// (The chart places points by a binary number; the texts stay exact.)
void HistoryWindow::draw() {
  QChart* chart = chart_->chart();
  chart->removeAllSeries();
  for (QAbstractAxis* a : chart->axes()) {
    chart->removeAxis(a);
    delete a;
  }
  chart->setTitle(qs(history_.price.title));
  auto* axisX = new QCategoryAxis;
  axisX->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  auto* axisY = new QValueAxis;
  chart->addAxis(axisX, Qt::AlignBottom);
  chart->addAxis(axisY, Qt::AlignLeft);
  const auto& points = history_.points;
  auto* dots = new QScatterSeries;
  dots->setMarkerSize(9);
  QLineSeries* line = nullptr;
  double lo = 0, hi = 0;
  bool any = false;
  std::vector<QLineSeries*> lines;
  for (size_t i = 0; i < points.size(); ++i) {
    axisX->append(axisLabel(points[i]), static_cast<double>(i));
    if (!points[i].price) {
      line = nullptr;
      continue;
    }
    const double y = std::stod(points[i].price->text());
    if (!line) {
      line = new QLineSeries;
      lines.push_back(line);
    }
    line->append(static_cast<double>(i), y);
    dots->append(static_cast<double>(i), y);
    lo = any ? std::min(lo, y) : y;
    hi = any ? std::max(hi, y) : y;
    any = true;
  }
  for (QLineSeries* l : lines) {
    l->setColor(QColor(0x1d, 0x4e, 0x89));
    chart->addSeries(l);
    l->attachAxis(axisX);
    l->attachAxis(axisY);
  }
  dots->setColor(QColor(0x1d, 0x4e, 0x89));
  chart->addSeries(dots);
  dots->attachAxis(axisX);
  dots->attachAxis(axisY);
  connect(dots, &QScatterSeries::hovered, this, [this](const QPointF& pt, bool state) {
    if (!state) {
      QToolTip::hideText();
      return;
    }
    QToolTip::showText(QCursor::pos(), pointText(static_cast<int>(pt.x() + 0.5)), chart_);
  });
  axisX->setRange(-0.5, std::max<double>(0.5, static_cast<double>(points.size()) - 0.5));
  const double pad = any ? std::max((hi - lo) * 0.1, std::max(1.0, hi * 0.01)) : 1;
  axisY->setRange(any ? lo - pad : 0, any ? hi + pad : 1);
  axisY->applyNiceNumbers();
}

void HistoryWindow::fillTable() {
  platform::VSFlexGrid& g = *table_;
  platform::GridBatch batch(g);
  g.setCols(5);
  g.setRows(1);
  const char* titles[] = {" ", "材料库", "月份", "产品编号", ""};
  const int widths[] = {200, 3000, 1200, 1200, 1600};
  for (int c = 0; c < 5; ++c) {
    g.setTextMatrix(0, c, c == 4 ? history_.price.title : titles[c]);
    g.setColWidth(c, widths[c]);
    g.setCell(platform::flexcpAlignment, 0, c, platform::flexAlignCenterCenter);
  }
  g.setColFormat(4, history_.price.format);
  g.setColAlignment(4, platform::flexAlignRightCenter);
  for (const auto& pt : history_.points) {
    const int row = g.Rows();
    g.setRows(row + 1);
    g.setTextMatrix(row, 1, pt.library);
    g.setTextMatrix(row, 2, pt.month ? pt.month->text() : "");
    g.setTextMatrix(row, 3, pt.present ? pt.id : (pt.error.empty() ? "无此产品" : "无法读取"));
    g.setTextMatrix(row, 4, pt.price ? pt.price->text() : "");
  }
}

}  // namespace price_windows
