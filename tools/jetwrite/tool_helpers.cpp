#include "jetwrite/tool_helpers.h"

#include "common/atomic_file.h"
#include "common/cp936.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace jetwrite {

namespace {

// Small deterministic generator (xorshift), so the benchmark library is the
// same file on every machine.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed ? seed : 1) {}
    uint64_t next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 7;
        s_ ^= s_ << 17;
        return s_;
    }
    int below(int n) { return int(next() % uint64_t(n)); }

private:
    uint64_t s_;
};

const char* const kMaterials[] = {"钢材", "水泥", "木材", "管材", "电线电缆", "五金", "玻璃", "涂料", "防水材料", "保温材料",
                                  "砂石", "砖瓦", "石材", "陶瓷", "灯具", "阀门", "卫浴", "门窗", "混凝土", "沥青"};
const char* const kKinds[] = {"螺纹钢", "圆钢", "角钢", "槽钢", "工字钢", "钢板", "镀锌管", "焊管", "无缝管", "普通硅酸盐",
                              "复合硅酸盐", "板材", "方木", "胶合板", "PPR管", "PE管", "PVC管", "铜芯线", "铝芯线", "电力电缆",
                              "螺栓", "合页", "浮法玻璃", "钢化玻璃", "乳胶漆", "防火涂料", "卷材", "涂膜", "挤塑板", "岩棉板"};
const char* const kGrades[] = {"HRB400", "HRB400E", "HRB500", "HPB300", "Q235", "Q345", "P.O42.5", "P.C32.5",
                               "A级", "B级", "优等品", "一等品", "合格品", "国标", "加厚", "轻型"};
const char* const kPlaces[] = {"华东", "华南", "华北", "西南", "东北", "西北", "华中", "江南", "岭南", "中原"};
const char* const kFirmWords[] = {"钢铁", "建材", "管业", "线缆", "水泥", "木业", "五金", "化工", "新材", "实业"};
const char* const kUnits[] = {"吨", "米", "立方米", "平方米", "千克", "根", "块", "卷", "套", "个"};

std::string money(int64_t tenThousandths) {
    bool neg = tenThousandths < 0;
    uint64_t v = uint64_t(neg ? -tenThousandths : tenThousandths);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s%llu.%04llu", neg ? "-" : "", (unsigned long long)(v / 10000),
                  (unsigned long long)(v % 10000));
    return buf;
}

template <size_t N>
const char* pick(const char* const (&a)[N], int i) {
    return a[size_t(i) % N];
}

}  // namespace

Database makeBenchLibrary(const BenchShape& shape) {
    if (shape.products < 1 || shape.categories < 6 || shape.factories < 1)
        throw std::runtime_error("benchmark library needs at least 1 product, 6 categories and 1 manufacturer");
    Rng rng(20261201);
    Database db;
    db.password = "4917";

    Table category{"Category",
                   {{"ID", ColumnType::Long},
                    {"ParentID", ColumnType::Long},
                    {"Name", ColumnType::Text, 50},
                    {"ico", ColumnType::Text, 50},
                    {"sortid", ColumnType::Long}},
                   {}};
    category.rows.push_back({"0", "-1", "全部材料", "材料", "0"});
    // Six levels below the root; each level about 2.4 times as wide as the one above.
    std::vector<int> widths(6);
    {
        double weights[6] = {1, 2.4, 5.8, 13.8, 33.2, 79.6};
        double sum = 0;
        for (double w : weights) sum += w;
        int used = 0;
        for (int l = 0; l < 6; ++l) {
            widths[size_t(l)] = std::max(1, int(shape.categories * weights[l] / sum));
            used += widths[size_t(l)];
        }
        widths[5] += shape.categories - used;
        if (widths[5] < 1) throw std::runtime_error("too few categories for six levels");
    }
    std::vector<int> previous{0};
    std::vector<bool> hasChild(size_t(shape.categories) + 1, false);
    int nextId = 1;
    for (int level = 0; level < 6; ++level) {
        std::vector<int> current;
        for (int i = 0; i < widths[size_t(level)]; ++i) {
            int id = nextId++;
            int parent = previous[size_t(i) % previous.size()];
            hasChild[size_t(parent)] = true;
            std::string name = level == 0 ? std::string(pick(kMaterials, i))
                                          : std::string(pick(kKinds, id * 7 + level)) + " " + pick(kGrades, id) + "-" +
                                                std::to_string(id);
            Value ico = level < 2 ? Value(std::string(pick(kMaterials, i))) : Value{};
            category.rows.push_back({std::to_string(id), std::to_string(parent), name, ico, std::to_string(i + 1)});
            current.push_back(id);
        }
        previous = std::move(current);
    }
    std::vector<int> leaves;
    for (int id = 1; id < nextId; ++id)
        if (!hasChild[size_t(id)]) leaves.push_back(id);

    Table factory{"Factory",
                  {{"ID", ColumnType::Long},
                   {"Name", ColumnType::Text, 100},
                   {"Address", ColumnType::Text, 100},
                   {"Tel", ColumnType::Text, 30},
                   {"sortid", ColumnType::Long}},
                  {}};
    for (int f = 1; f <= shape.factories; ++f) {
        std::string name = std::string(pick(kPlaces, f)) + pick(kFirmWords, f / 10 + f) + "有限公司" + std::to_string(f);
        std::string address = std::string(pick(kPlaces, f + 3)) + "工业园区" + std::to_string(f % 90 + 1) + "号";
        char tel[32];
        std::snprintf(tel, sizeof tel, "0571-%08d", 80000000 + f);
        factory.rows.push_back({std::to_string(f), name, address, std::string(tel), std::to_string(f)});
    }

    Table product{"CLProduct",
                  {{"ID", ColumnType::Long},
                   {"CategoryID", ColumnType::Long},
                   {"FactoryID", ColumnType::Long},
                   {"Name", ColumnType::Text, 100},
                   {"Model", ColumnType::Text, 100},
                   {"Unit", ColumnType::Text, 10},
                   {"PriceTax", ColumnType::Currency},
                   {"PriceNoTax", ColumnType::Currency},
                   {"PriceChange", ColumnType::Currency},
                   {"Remark", ColumnType::Memo},
                   {"sortid", ColumnType::Long}},
                  {}};
    product.rows.reserve(size_t(shape.products));
    for (int p = 1; p <= shape.products; ++p) {
        int cat = leaves[size_t(rng.below(int(leaves.size())))];
        int fac = 1 + rng.below(shape.factories);
        int64_t price = 500000 + int64_t(rng.below(60000000));          // 50.0000 .. 6050.0000
        int64_t noTax = price * 100 / 113;                              // 13 % VAT
        int64_t change = int64_t(rng.below(2000001)) - 1000000;         // ±100.0000
        std::string name = std::string(pick(kKinds, p)) + " " + pick(kGrades, p / 3);
        std::string model = "Φ" + std::to_string(6 + p % 40) + "×" + std::to_string(1 + p % 12) + "mm";
        Value remark = p % 10 == 0 ? Value("执行标准 GB/T " + std::to_string(1000 + p % 9000) + "，含运费至工地。")
                                   : Value{};
        product.rows.push_back({std::to_string(p), std::to_string(cat), std::to_string(fac), name, model,
                                std::string(pick(kUnits, p)), money(price), money(noTax), money(change), remark,
                                std::to_string(p)});
    }

    Table html{"HtmlRelational",
               {{"ID", ColumnType::Long},
                {"CategoryID", ColumnType::Long},
                {"FactoryID", ColumnType::Long},
                {"HtmlFileName", ColumnType::Text, 255}},
               {}};
    int pages = std::max(1, shape.products / 100);
    for (int h = 1; h <= pages; ++h) {
        const auto& row = product.rows[size_t(rng.below(shape.products))];
        html.rows.push_back({std::to_string(h), row[1], row[2], "\\web\\bench\\p" + std::to_string(h) + ".htm"});
    }

    db.tables = {std::move(category), std::move(product), std::move(factory), std::move(html)};
    return db;
}

void convertToGbk(const std::string& in, const std::string& out) {
    std::ifstream f(in, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + in);
    std::ostringstream s;
    s << f.rdbuf();
    std::string text = s.str();
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    // Lines end in CR LF in every text file the programs read.
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 20);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) crlf.push_back('\r');
        crlf.push_back(text[i]);
    }
    std::string gbk = common::toCp936(crlf);
    if (common::fromCp936(gbk) != crlf)
        throw std::runtime_error(in + ": not UTF-8, or holds characters GBK cannot represent");
    std::string error;
    if (!common::writeFileAtomic(out, gbk, &error)) throw std::runtime_error("cannot write " + out + ": " + error);
}

void writeIconBitmap(const std::string& out, const std::string& rrggbb, const std::string& shape) {
    if (rrggbb.size() != 6 || rrggbb.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw std::runtime_error("colour must be six hex digits RRGGBB, not \"" + rrggbb + "\"");
    if (shape != "square" && shape != "circle" && shape != "diamond")
        throw std::runtime_error("shape must be square, circle or diamond, not \"" + shape + "\"");
    unsigned long rgb = std::stoul(rrggbb, nullptr, 16);
    uint8_t r = uint8_t(rgb >> 16), g = uint8_t(rgb >> 8), b = uint8_t(rgb);
    const int n = 16, rowBytes = n * 3;  // 48: already a multiple of four
    const uint32_t pixelBytes = uint32_t(rowBytes * n), offset = 14 + 40;
    std::string bmp;
    auto u16 = [&](uint32_t v) { bmp.push_back(char(v & 0xFF)); bmp.push_back(char((v >> 8) & 0xFF)); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
    bmp += "BM";
    u32(offset + pixelBytes);
    u32(0);
    u32(offset);
    u32(40);
    u32(n);
    u32(n);  // positive height: rows stored bottom-up
    u16(1);
    u16(24);
    u32(0);
    u32(pixelBytes);
    u32(2835);
    u32(2835);
    u32(0);
    u32(0);
    for (int y = n - 1; y >= 0; --y) {
        for (int x = 0; x < n; ++x) {
            double cx = x - 7.5, cy = y - 7.5;
            bool in = shape == "square"   ? (x >= 2 && x <= 13 && y >= 2 && y <= 13)
                      : shape == "circle" ? (cx * cx + cy * cy <= 42.0)
                                          : (std::abs(cx) + std::abs(cy) <= 7.5);
            bool edge = in && (x == 0 || y == 0 || x == n - 1 || y == n - 1);
            uint8_t pr = in ? r : 255, pg = in ? g : 255, pb = in ? b : 255;
            if (edge) pr = pg = pb = 0;
            bmp.push_back(char(pb));
            bmp.push_back(char(pg));
            bmp.push_back(char(pr));
        }
    }
    std::string error;
    if (!common::writeFileAtomic(out, bmp, &error)) throw std::runtime_error("cannot write " + out + ": " + error);
}

}  // namespace jetwrite
