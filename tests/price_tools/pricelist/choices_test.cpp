// The choices kept beside a list: read back as written, found for every line
// written the same way, a damaged file reported and never written over.
#include <gtest/gtest.h>

#include <stdexcept>

#include "price_tools/pricelist/choices.h"
#include "price_tools/pricelist/material_list.h"
#include "support/test_support.h"

using namespace price_tools::pricelist;

namespace {

ListLine line(const std::string& name, const std::string& model, const std::string& unit) {
  ListLine l;
  l.name = name;
  l.model = model;
  l.unit = unit;
  return l;
}

std::string errorOfLoad(const std::string& path) {
  try {
    Choices::load(path);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(loaded)";
}

}  // namespace

TEST(Choices, AreKeptBesideTheListAndReadBack) {
  testsupport::ProgramFolder folder;
  const std::string list = folder / "材料表.xlsx";
  EXPECT_EQ(Choices::besidePath(list), folder / "材料表.xlsx.velmora.json");
  const std::string path = Choices::besidePath(list);
  EXPECT_EQ(Choices::load(path).size(), 0u);  // no file yet: no choices

  Choices choices;
  choices.set(line("螺纹钢", "HRB400 Φ20", "t"), {false, "螺纹钢 HRB400", "Φ16-Φ25", "吨", "东岚钢铁集团有限公司"});
  choices.set(line("中砂", "", "m3"), {false, "中砂", "", "立方米", ""});
  choices.set(line("防火涂料", "", "kg"), {true, "", "", "", ""});
  choices.save(path);

  const Choices back = Choices::load(path);
  EXPECT_EQ(back.size(), 3u);
  const auto steel = back.find(line("螺纹钢", "HRB400 Φ20", "t"));
  ASSERT_TRUE(steel);
  EXPECT_FALSE(steel->none);
  EXPECT_EQ(steel->name, "螺纹钢 HRB400");
  EXPECT_EQ(steel->model, "Φ16-Φ25");
  EXPECT_EQ(steel->unit, "吨");
  EXPECT_EQ(steel->factory, "东岚钢铁集团有限公司");
  EXPECT_EQ(back.find(line("中砂", "", "m3"))->factory, "");  // several makers combined
  EXPECT_TRUE(back.find(line("防火涂料", "", "kg"))->none);
  // A line written the same way (blanks, full-width forms, letter case) finds
  // the choice; another line does not.
  EXPECT_TRUE(back.find(line(" 螺纹钢", "hrb400　Φ２０", "T")));
  EXPECT_FALSE(back.find(line("螺纹钢", "HRB400 Φ22", "t")));
  EXPECT_FALSE(back.find(line("中砂", "", "t")));

  Choices changed = back;
  changed.clear(line("中砂", "", "m3"));
  changed.save(path);
  EXPECT_EQ(Choices::load(path).size(), 2u);
  EXPECT_FALSE(Choices::load(path).find(line("中砂", "", "m3")));
}

TEST(Choices, ADamagedFileIsReportedAndNotWrittenOver) {
  testsupport::ProgramFolder folder;
  Choices choices;
  choices.set(line("中砂", "", "m3"), {false, "中砂", "", "立方米", ""});
  const std::vector<std::pair<std::string, std::string>> damaged = {
      {"cut.json", "{\"format\": \"velmora-list-choices\", \"version\": 1, \"choices\": [{\"line\""},
      {"other.json", "{\"name\": \"something else\"}"},
      {"array.json", "[1, 2, 3]"},
      {"shape.json", "{\"format\": \"velmora-list-choices\", \"version\": 1, \"choices\": [{\"none\": false}]}"},
  };
  for (const auto& [name, bytes] : damaged) {
    SCOPED_TRACE(name);
    const std::string path = folder / name;
    testsupport::writeFile(path, bytes);
    const std::string error = errorOfLoad(path);
    EXPECT_NE(error.find(name), std::string::npos) << error;
    EXPECT_NE(error.find("损坏"), std::string::npos) << error;
    EXPECT_THROW(choices.save(path), std::runtime_error);
    EXPECT_EQ(testsupport::readFile(path), bytes);  // nothing lost
  }
  // A folder in the way is no file to read or replace.
  std::filesystem::create_directory(folder / "dir.json");
  EXPECT_THROW(Choices::load(folder / "dir.json"), std::runtime_error);
  EXPECT_THROW(choices.save(folder / "dir.json"), std::runtime_error);
  // A folder that cannot be written: the error says so, no half file is left.
  EXPECT_THROW(choices.save(folder / "missing/sub/x.json"), std::runtime_error);
}
