#pragma once
// The dialogs behind the export commands of the band (band/export_band.cpp),
// which every window with a grid of prices can use:
//   "导出Excel"  a save dialog proposing "<library> <what is shown>.xlsx" (or
//               CSV: UTF-8 or GBK, numbers as shown or as stored), then the
//               export with a progress bar and 取消 for long ones;
//   "打印预览"   the print preview of the grid's pages (title, header rows on
//               every page, page numbers, landscape or scaled when wide);
//   "导出PDF"    the same pages to a PDF file.
// An export that is cancelled or fails leaves no file (and an older file of
// that name as it was); a failure is reported in a message box.
#include <QString>
#include <QStringList>

#include <functional>

#include "platform/grid/vsflexgrid.h"
#include "price_tools/export/export_cells.h"
#include "price_tools/export/export_title.h"

class QWidget;

namespace price_windows {

inline constexpr const char* kExportExcelText = "导出Excel";
inline constexpr const char* kPrintPreviewText = "打印预览";
inline constexpr const char* kExportPdfText = "导出PDF";

// The dialogs; true when a file was written (or the pages printed).
bool exportGrid(QWidget* parent, const platform::VSFlexGrid& grid, const price_tools::exporting::ExportTitle& title);
bool exportGridPdf(QWidget* parent, const platform::VSFlexGrid& grid,
                   const price_tools::exporting::ExportTitle& title);
void previewGrid(QWidget* parent, const platform::VSFlexGrid& grid, const price_tools::exporting::ExportTitle& title);

// The file name question (tests answer it themselves): caption, proposed
// path, the filters offered; returns the path ("" for cancel) and sets the
// chosen filter.
using SaveFileQuestion = std::function<QString(QWidget* parent, const QString& caption, const QString& proposed,
                                               const QStringList& filters, QString* chosenFilter)>;
// Replaces the question; returns the previous one. An empty one restores the
// file dialog.
SaveFileQuestion setSaveFileQuestion(SaveFileQuestion question);

// The pieces of those dialogs, for the exports of other windows: the save
// question (the tests' answer when one is set, otherwise the file dialog);
// `path` ending in `extension` (".xlsx", ".csv"), a path that ends in the other
// one having it replaced; an export run under the progress dialog (shown
// after setProgressShownAfter, with 取消), a failure reported in a message
// box. True when the file was written.
QString askSaveFile(QWidget* parent, const QString& caption, const QString& proposed, const QStringList& filters,
                    QString* chosenFilter);
QString withExtension(QString path, const QString& extension);
bool exportWithProgress(QWidget* parent, const QString& what,
                        const std::function<price_tools::exporting::ExportResult(
                            const price_tools::exporting::Progress&)>& run);

// How long an export runs before its progress dialog shows (500 ms; tests set
// 0 so that the dialog is there from the first row). Returns the old value.
int setProgressShownAfter(int ms);

// The filters of "导出Excel", in this order.
QStringList exportFilters();

}  // namespace price_windows
