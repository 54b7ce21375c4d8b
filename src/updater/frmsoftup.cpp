#include "updater/frmsoftup.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>

#include <climits>

#include "platform/screen/twips.h"
#include "updater/frmsoftsf.h"
#include "updater/list_icons.h"

namespace updater {

namespace {

int px(int twips) { return platform::twipsToPixels(twips); }

QString qs(const std::string& s) { return QString::fromStdString(s); }

void setTextIfChanged(QLabel* label, const std::string& text) {
  const QString t = qs(text);
  if (label->text() != t) label->setText(t);
}

QPixmap frameButton(bool close) {
  QPixmap pm(18, 18);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::white, 2));
  if (close) {
    p.drawLine(5, 5, 13, 13);
    p.drawLine(13, 5, 5, 13);
  } else {
    p.drawLine(4, 12, 14, 12);
  }
  return pm;
}

}  // namespace

void ClickLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit clicked();
}

Frmsoftup::Frmsoftup(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setWindowTitle("Ostravel");
  setFixedSize(px(9000), px(7200));
  run_.setView(this);

  const QRect geometry[6] = {
      {px(360), px(300), px(6000), px(420)},   // title
      {px(360), px(780), px(2800), px(300)},   // version
      {px(360), px(6300), px(1800), px(300)},  // speed
      {px(2300), px(6300), px(1800), px(300)}, // elapsed
      {px(4200), px(6300), px(1800), px(300)}, // remaining
      {px(3300), px(780), px(2800), px(300)},  // date
  };
  for (int i = 0; i < 6; ++i) {
    auto* l = new QLabel(this);
    l->setGeometry(geometry[i]);
    l->setStyleSheet(i == 0 ? "color: white; font-size: 16px; font-weight: bold;" : "color: #20324a;");
    label2_[static_cast<size_t>(i)] = l;
  }
  label2_[1]->setStyleSheet("color: white;");
  label2_[5]->setStyleSheet("color: white;");

  grid_ = new platform::GridView(this);
  grid_->setGeometry(px(360), px(1260), px(8280), px(3000));
  platform::VSFlexGrid& g = grid_->grid();
  {
    platform::GridBatch batch(g);
    g.setCols(kListColumns);
    g.setRows(1);
    g.setFixedRows(1);
    g.setFixedCols(0);
    for (int c = 0; c < kListColumns; ++c) {
      g.setTextMatrix(0, c, kListTitles[static_cast<size_t>(c)]);
      g.setColWidth(c, kListWidths[static_cast<size_t>(c)]);
      g.setColHidden(c, c >= kFirstHiddenColumn);
    }
    g.setColDataType(0, platform::flexDTBoolean);
    g.setColEditable(0, true);
    g.setColSwitch171(0, true);
    g.setOutlineBar(platform::flexOutlineBarCompleteLeaf);
    g.setOutlineCol(1);
    g.setGridLines(platform::flexGridNone);
    g.setRowHeight(0, 280);
  }
  connect(&g, &platform::VSFlexGrid::changed, this, &Frmsoftup::gridChanged);

  text2_ = new QPlainTextEdit(this);
  text2_->setReadOnly(true);
  text2_->setGeometry(px(360), px(4380), px(8280), px(1260));

  psb_ = new QProgressBar(this);
  psb_->setGeometry(px(360), px(5760), px(6600), px(300));
  psb_->setTextVisible(false);
  psb_->hide();
  text1_ = new QLineEdit(this);
  text1_->setReadOnly(true);
  text1_->setAlignment(Qt::AlignCenter);
  text1_->setGeometry(px(7080), px(5760), px(1560), px(300));
  text1_->hide();

  label1_ = new ClickLabel(qs(kCaptionStart), this);
  label1_->setAlignment(Qt::AlignCenter);
  label1_->setCursor(Qt::PointingHandCursor);
  label1_->setStyleSheet("background: #2b6cb0; color: white; border-radius: 4px; font-weight: bold;");
  label1_->setGeometry(px(7080), px(6240), px(1560), px(420));
  connect(label1_, &ClickLabel::clicked, this, [this] { run_.startstop(); });

  label3_ = new ClickLabel(QString::fromUtf8("配置"), this);
  label3_->setAlignment(Qt::AlignCenter);
  label3_->setCursor(Qt::PointingHandCursor);
  label3_->setStyleSheet("background: #718096; color: white; border-radius: 4px;");
  label3_->setGeometry(px(6120), px(6240), px(840), px(420));
  connect(label3_, &ClickLabel::clicked, this, [this] { run_.configure(); });

  const char* tips[2] = {"关闭", "最小化"};
  for (int i = 0; i < 2; ++i) {
    auto* img = new ClickLabel(this);
    img->setPixmap(frameButton(i == 0));
    img->setToolTip(QString::fromUtf8(tips[i]));
    img->setCursor(Qt::PointingHandCursor);
    img->setGeometry(width() - px(i == 0 ? 420 : 780), px(90), 18, 18);
    image1_[static_cast<size_t>(i)] = img;
  }
  connect(image1_[0], &ClickLabel::clicked, this, [this] { close(); });
  connect(image1_[1], &ClickLabel::clicked, this, [this] { showMinimized(); });
}

Frmsoftup::~Frmsoftup() { run_.setView(nullptr); }

void Frmsoftup::refresh() {
  const FormTexts& f = run_.form();
  for (int i = 0; i < 6; ++i) setTextIfChanged(label2_[static_cast<size_t>(i)], f.label2[static_cast<size_t>(i)]);
  if (text2_->toPlainText() != qs(f.text2)) text2_->setPlainText(qs(f.text2));
  if (label1_->text() != qs(f.label1)) label1_->setText(qs(f.label1));
  psb_->setVisible(f.progressVisible);
  text1_->setVisible(f.progressVisible);
  if (text1_->text() != qs(f.text1)) text1_->setText(qs(f.text1));
  if (!f.sizeKnown) {
    if (psb_->maximum() != 0) psb_->setRange(0, 0);  // size unknown: busy
  } else {
    // The bar counts bytes; sizes past its range are scaled down to fit.
    int shift = 0;
    while ((f.psbMax >> shift) > INT_MAX) ++shift;
    const int max = static_cast<int>(f.psbMax >> shift);
    if (psb_->maximum() != max || psb_->minimum() != 0) psb_->setRange(0, std::max(max, 1));
    psb_->setValue(static_cast<int>(std::min(f.psbValue, f.psbMax) >> shift));
  }
  if (f.visible && !isVisible() && !run_.ended()) show();
  if (!f.visible && isVisible()) hide();
}

void Frmsoftup::listChanged() {
  platform::VSFlexGrid& g = grid_->grid();
  const auto& rows = run_.rows();
  syncing_ = true;
  {
    platform::GridBatch batch(g);
    g.setRows(static_cast<int>(rows.size()));
    for (int r = 1; r < static_cast<int>(rows.size()); ++r) {
      const ListRow& row = rows[static_cast<size_t>(r)];
      for (int c = 0; c < kListColumns; ++c) {
        if (c == 0) continue;
        if (g.TextMatrix(r, c) != row.cells[static_cast<size_t>(c)]) g.setTextMatrix(r, c, row.cells[static_cast<size_t>(c)]);
      }
      const std::string tick = row.group ? "" : (row.ticked ? "1" : "0");
      if (g.TextMatrix(r, 0) != tick) g.setTextMatrix(r, 0, tick);
      if (!g.cellPicture(r, 1) && row.icon > 0) g.setCell(platform::flexcpPicture, r, 1, ListImage(row.icon));
      // A file refused after its download (its hash, or none under a signed list): a pale red row.
      if (row.failed) g.setCell(platform::flexcpBackColor, r, 0, r, kListColumns - 1, 0xD0D0FF);
      g.setIsSubtotal(r, true);
      g.setRowOutlineLevel(r, row.level());
      if (g.RowHeight(r) < 280) g.setRowHeight(r, 280);
    }
  }
  g.flushChanges();
  syncing_ = false;
}

void Frmsoftup::gridChanged() {
  if (syncing_) return;
  platform::VSFlexGrid& g = grid_->grid();
  const auto& rows = run_.rows();
  for (int r = 1; r < std::min(g.Rows(), static_cast<int>(rows.size())); ++r) {
    if (rows[static_cast<size_t>(r)].group) continue;
    const bool ticked = g.cellChecked(r, 0) == platform::flexChecked;
    if (ticked != rows[static_cast<size_t>(r)].ticked) run_.setTicked(r, ticked);
  }
}

std::string Frmsoftup::chooseGroups(const std::string& choices, const std::string& selection) {
  return choosegroups(this, choices, selection);
}

void Frmsoftup::closeEvent(QCloseEvent* event) {
  run_.closeWindow();
  event->accept();
}

void Frmsoftup::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QLinearGradient sky(0, 0, 0, height());
  sky.setColorAt(0, QColor(0x1f, 0x4e, 0x8c));
  sky.setColorAt(0.2, QColor(0x3a, 0x7b, 0xc8));
  sky.setColorAt(0.21, QColor(0xee, 0xf3, 0xf9));
  sky.setColorAt(1, QColor(0xdc, 0xe6, 0xf2));
  p.fillRect(rect(), sky);
  p.setPen(QColor(0x1f, 0x4e, 0x8c));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

// The window has no frame: it is moved by dragging its background.
void Frmsoftup::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragFrom_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void Frmsoftup::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) move(event->globalPosition().toPoint() - dragFrom_);
}

}  // namespace updater
