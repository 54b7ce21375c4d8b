#pragma once
// Material lists for the tests: workbooks written by libxlsxwriter, by
// Python's openpyxl (run at test time) and by hand as zip archives of XML
// parts (for damaged and hostile ones), and CSV files.
#include <gtest/gtest.h>
#include <xlsxwriter.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace list_fixture {

using testsupport::ZipEntry;

// A worksheet's XML with the given rows of cells ("<c ...>...</c>" each).
inline std::string sheetXml(const std::string& sheetData, const std::string& extra = std::string()) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
         "<sheetData>" + sheetData + "</sheetData>" + extra + "</worksheet>";
}

// The parts of a workbook with one sheet (or more), as a spreadsheet program writes them.
inline std::vector<ZipEntry> workbookParts(const std::vector<std::pair<std::string, std::string>>& sheets,
                                           const std::string& sharedStrings = std::string()) {
  std::vector<ZipEntry> parts;
  parts.push_back({ZipEntry::File, "[Content_Types].xml",
                   "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"});
  parts.push_back({ZipEntry::File, "_rels/.rels",
                   "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                   "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
                   "Target=\"xl/workbook.xml\"/></Relationships>"});
  std::string workbook =
      "<?xml version=\"1.0\"?><workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>";
  std::string rels =
      "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (size_t i = 0; i < sheets.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    workbook += "<sheet name=\"" + sheets[i].first + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
    rels += "<Relationship Id=\"rId" + n +
            "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
            "Target=\"worksheets/sheet" + n + ".xml\"/>";
    parts.push_back({ZipEntry::File, "xl/worksheets/sheet" + n + ".xml", sheets[i].second});
  }
  if (!sharedStrings.empty()) {
    rels += "<Relationship Id=\"rIdS\" "
            "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" "
            "Target=\"sharedStrings.xml\"/>";
    parts.push_back({ZipEntry::File, "xl/sharedStrings.xml", sharedStrings});
  }
  parts.push_back({ZipEntry::File, "xl/workbook.xml", workbook + "</sheets></workbook>"});
  parts.push_back({ZipEntry::File, "xl/_rels/workbook.xml.rels", rels + "</Relationships>"});
  return parts;
}

inline std::string inlineCell(const std::string& ref, const std::string& text) {
  return "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
}

// A header row and one line, the smallest list there is.
inline std::string smallSheetData() {
  return "<row r=\"1\">" + inlineCell("A1", "名称") + inlineCell("B1", "规格型号") + inlineCell("C1", "单位") +
         inlineCell("D1", "数量") + "</row><row r=\"2\">" + inlineCell("A2", "螺纹钢 HRB400") +
         inlineCell("B2", "Φ20") + inlineCell("C2", "t") + "<c r=\"D2\"><v>12.5</v></c></row>";
}

// Runs python3 with a script; false (and the output in `output`) when it fails.
inline bool runPython(const std::string& folder, const std::string& script, std::string& output) {
  const std::string scriptPath = folder + "/make.py";
  const std::string logPath = folder + "/make.log";
  testsupport::writeFile(scriptPath, script);
  const std::string command = std::string(VELMORA_PYTHON3) + " '" + scriptPath + "' >'" + logPath + "' 2>&1";
  const int rc = std::system(command.c_str());
  output = testsupport::readFile(logPath);
  return rc == 0;
}

}  // namespace list_fixture
