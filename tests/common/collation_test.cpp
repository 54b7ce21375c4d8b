// The text order against the reference a Chinese system gives: glibc's
// zh_CN.UTF-8 collation, compiled for the test in its scratch folder when the
// system has not generated it (localedef, from the `locales` package's sources).
#include "common/collation.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> lines(const fs::path& file, bool csvSecondField) {
  std::ifstream in(file);
  std::vector<std::string> out;
  std::string line;
  bool header = csvSecondField;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (header) {
      header = false;
      continue;
    }
    if (csvSecondField) {
      const std::size_t a = line.find(','), b = line.find(',', a + 1);
      line = line.substr(a + 1, b - a - 1);
    }
    out.push_back(line);
  }
  return out;
}

class GlibcOrder : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    zh = newlocale(LC_ALL_MASK, "zh_CN.UTF-8", nullptr);
    if (zh) return;
    std::string pattern = (fs::temp_directory_path() / "velmora-collation-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    scratch = pattern;
    const std::string command =
        "localedef -i zh_CN -f UTF-8 '" + (scratch / "zh_CN.UTF-8").string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0)
        << "localedef could not compile zh_CN.UTF-8 (the `locales` package holds its sources)";
    ::setenv("LOCPATH", scratch.c_str(), 1);
    zh = newlocale(LC_ALL_MASK, "zh_CN.UTF-8", nullptr);
    ::unsetenv("LOCPATH");
    ASSERT_NE(zh, nullptr);
  }
  static void TearDownTestSuite() {
    if (zh) freelocale(zh);
    std::error_code ec;
    if (!scratch.empty()) fs::remove_all(scratch, ec);
  }
  static std::vector<std::string> sortedByGlibc(std::vector<std::string> v) {
    std::stable_sort(v.begin(), v.end(), [](const std::string& a, const std::string& b) {
      return strcoll_l(a.c_str(), b.c_str(), zh) < 0;
    });
    return v;
  }
  static std::vector<std::string> sortedByOurs(std::vector<std::string> v) {
    std::stable_sort(v.begin(), v.end(),
                     [](const std::string& a, const std::string& b) { return common::collateText(a, b) < 0; });
    return v;
  }
  static inline locale_t zh = nullptr;
  static inline fs::path scratch;
};

TEST_F(GlibcOrder, RealCompanyAndMaterialNamesComeInTheSameOrder) {
  ASSERT_NE(zh, nullptr);
  std::vector<std::string> names = lines(fs::path(VELMORA_SOURCE_DIR) / "tests/common/collation_names.txt", false);
  const std::vector<std::string> factories = lines(fs::path(VELMORA_SOURCE_DIR) / "demo/data/factory.csv", true);
  ASSERT_EQ(factories.size(), 30u);
  ASSERT_GE(names.size(), 300u);
  // The demo's factories on their own first: 长江 under "chang", before 辰光.
  const std::vector<std::string> ours = sortedByOurs(factories);
  EXPECT_EQ(ours, sortedByGlibc(factories));
  const auto at = [&](const char* n) { return std::find(ours.begin(), ours.end(), n) - ours.begin(); };
  EXPECT_LT(at("长江钢管制造有限公司"), at("辰光电缆集团有限公司"));
  EXPECT_LT(at("长江钢管制造有限公司"), at("云岭钢板制造有限公司"));
  names.insert(names.end(), factories.begin(), factories.end());
  const std::vector<std::string> reference = sortedByGlibc(names);
  const std::vector<std::string> sorted = sortedByOurs(names);
  int apart = 0;
  for (std::size_t i = 0; i < sorted.size(); ++i)
    if (sorted[i] != reference[i]) {
      ++apart;
      ADD_FAILURE() << i << ": ours " << sorted[i] << ", glibc " << reference[i];
      if (apart > 10) break;
    }
}

// Characters with several readings take the one a Chinese system gives them.
TEST_F(GlibcOrder, CharactersOfSeveralReadings) {
  ASSERT_NE(zh, nullptr);
  const std::vector<std::string> words = {"长沙", "重庆", "行业", "银行", "朝阳", "柏林", "厦门", "大厦", "长春",
                                          "常州", "中山", "厂家", "查询", "成都", "崇明", "航运", "兴业", "召陵",
                                          "白银", "百色", "下关", "沙市", "北京", "2026年12月", "2026年01月", "10号", "9号"};
  EXPECT_EQ(sortedByOurs(words), sortedByGlibc(words));
}

// Texts that differ only in letter case (any letter with a case) come
// together; width, digits and punctuation still tell texts apart.
TEST(Collation, LetterCaseIsIgnoredForEveryLetter) {
  EXPECT_EQ(common::collateText("Φ16 螺纹钢", "φ16 螺纹钢"), 0);
  EXPECT_EQ(common::collateText("Ⅰ级钢", "ⅰ级钢"), 0);
  EXPECT_EQ(common::collateText("ＡＢ型", "ａｂ型"), 0);
  EXPECT_EQ(common::collateText("HRB400", "hrb400"), 0);
  EXPECT_NE(common::collateText("ａｂ", "ab"), 0);
  EXPECT_NE(common::collateText("(abc)", "abc"), 0);
  EXPECT_EQ(common::collateText("ab", "ａｂ"), -common::collateText("ａｂ", "ab"));
}

}  // namespace
