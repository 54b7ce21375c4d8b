// make_months DESCRIPTION MOVEMENTS OUT_FOLDER
//
// Writes the demo's monthly libraries 2026年01月信息价.zdj ... 2026年10月信息价.zdj
// into OUT_FOLDER: the library DESCRIPTION describes (November) with its
// products' prices moved back month by month as MOVEMENTS says (a trend, a
// season, a wander), some products new later in the year, some renumbered,
// some discontinued. Prices are computed on whole ten-thousandths and
// rounded half away from zero to whole fen; the price without tax is the
// price / 1.13 at four places; the change is against the month before.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "jetwrite/jetwriter.h"

namespace {

struct Movements {
  std::map<std::string, long> trend;                        // group -> bp a month
  std::map<std::string, std::pair<long, int>> season;       // group -> (bp, peak month)
  long noise = 0;
  int newEvery = 0, newFrom = 1;
  int renumberEvery = 0, renumberFrom = 1;
  std::vector<std::pair<int, std::string>> gone;            // last month, CSV row
};

Movements readMovements(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  Movements m;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    std::string word;
    s >> word;
    if (word == "trend") {
      std::string g;
      long bp;
      s >> g >> bp;
      m.trend[g] = bp;
    } else if (word == "season") {
      std::string g;
      long bp;
      int peak;
      s >> g >> bp >> peak;
      m.season[g] = {bp, peak};
    } else if (word == "noise") {
      s >> m.noise;
    } else if (word == "new-every") {
      s >> m.newEvery >> m.newFrom;
    } else if (word == "renumber-every") {
      s >> m.renumberEvery >> m.renumberFrom;
    } else if (word == "gone") {
      int last;
      s >> last;
      std::string rest;
      std::getline(s, rest);
      m.gone.push_back({last, rest.substr(rest.find_first_not_of(' '))});
    } else {
      throw std::runtime_error(path + ": unknown statement " + word);
    }
    if (!s && !s.eof()) throw std::runtime_error(path + ": bad line " + line);
  }
  return m;
}

std::vector<std::string> splitRow(const std::string& row) {
  std::vector<std::string> out(1);
  for (char c : row) {
    if (c == ',')
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

// Ten-thousandths from "1234.5600".
long long units(const std::string& text) {
  const size_t dot = text.find('.');
  std::string frac = dot == std::string::npos ? "" : text.substr(dot + 1);
  frac.resize(4, '0');
  return std::stoll(text.substr(0, dot)) * 10000 + std::stoll(frac);
}

std::string priceText(long long u) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s%lld.%04lld", u < 0 ? "-" : "", std::llabs(u) / 10000, std::llabs(u) % 10000);
  return buf;
}

// a * num / den rounded half away from zero.
long long scale(long long a, long long num, long long den) {
  const __int128 p = static_cast<__int128>(a) * num;
  __int128 q = p / den, r = p % den;
  if (2 * (r < 0 ? -r : r) >= den) q += p < 0 ? -1 : 1;
  return static_cast<long long>(q);
}

// A repeatable wander in [-1, 1] for a product and month.
double wander(long id, int month) {
  unsigned x = static_cast<unsigned>(id) * 2654435761u ^ static_cast<unsigned>(month) * 40503u;
  x ^= x >> 13;
  x *= 0x5bd1e995u;
  x ^= x >> 15;
  return (x % 20001) / 10000.0 - 1.0;
}

int column(const jetwrite::Table& t, const std::string& name) {
  for (size_t i = 0; i < t.columns.size(); ++i)
    if (t.columns[i].name == name) return static_cast<int>(i);
  throw std::runtime_error("no column " + name + " in " + t.name);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_months DESCRIPTION MOVEMENTS OUT_FOLDER\n");
    return 2;
  }
  try {
    const jetwrite::Database november = jetwrite::readDescriptionFile(argv[1]);
    const Movements mv = readMovements(argv[2]);
    const std::string out = argv[3];

    // The top-level group of each category.
    std::map<std::string, std::pair<std::string, std::string>> categories;  // id -> (parent, name)
    const jetwrite::Table* products = nullptr;
    for (const auto& t : november.tables) {
      if (t.name == "Category")
        for (const auto& r : t.rows) categories[*r[0]] = {*r[1], *r[2]};
      if (t.name == "CLProduct") products = &t;
    }
    if (!products) throw std::runtime_error("no CLProduct table");
    auto group = [&](const std::string& category) {
      std::string id = category;
      for (int depth = 0; depth < 10; ++depth) {
        auto it = categories.find(id);
        if (it == categories.end()) return std::string();
        if (it->second.first == "0") return it->second.second;
        id = it->second.first;
      }
      return std::string();
    };
    const int cId = column(*products, "ID"), cCat = column(*products, "CategoryID"),
              cTax = column(*products, "PriceTax"), cNoTax = column(*products, "PriceNoTax"),
              cChange = column(*products, "PriceChange");

    // Factor of a product's month against November, in millionths.
    auto factor = [&](const std::string& g, long id, int month) {
      double f = 1.0;
      if (auto t = mv.trend.find(g); t != mv.trend.end()) f -= t->second / 10000.0 * (11 - month);
      if (auto s = mv.season.find(g); s != mv.season.end()) {
        const double amp = s->second.first / 10000.0;
        const double pi = std::acos(-1.0);
        f *= (1 + amp * std::cos(2 * pi * (month - s->second.second) / 12)) / (1 + amp);
      }
      if (mv.noise) f *= 1 + mv.noise / 10000.0 * wander(id, month);
      return std::llround(f * 1e6);
    };
    auto price = [&](long long novemberUnits, const std::string& g, long id, int month) {
      return scale(scale(novemberUnits, factor(g, id, month), 1000000), 1, 100) * 100;  // whole fen
    };

    std::vector<std::vector<jetwrite::Value>> base = products->rows;
    for (const auto& [last, row] : mv.gone) {
      std::vector<jetwrite::Value> r;
      for (const std::string& f : splitRow(row)) r.push_back(f);
      r.resize(products->columns.size());
      base.push_back(r);
    }
    std::map<long, int> lastMonth;
    for (const auto& [last, row] : mv.gone) lastMonth[std::stol(splitRow(row)[0])] = last;

    for (int month = 1; month <= 10; ++month) {
      jetwrite::Database db = november;
      for (auto& t : db.tables) {
        if (t.name != "CLProduct") continue;
        t.rows.clear();
        for (const auto& r : base) {
          const long id = std::stol(*r[static_cast<size_t>(cId)]);
          if (mv.newEvery && id % mv.newEvery == 0 && month < mv.newFrom) continue;
          if (auto it = lastMonth.find(id); it != lastMonth.end() && month > it->second) continue;
          auto row = r;
          const std::string g = group(*r[static_cast<size_t>(cCat)]);
          const long long nov = units(*r[static_cast<size_t>(cTax)]);
          const long long now = price(nov, g, id, month), before = price(nov, g, id, month - 1);
          row[static_cast<size_t>(cTax)] = priceText(now);
          row[static_cast<size_t>(cNoTax)] = priceText(scale(now, 100, 113));
          row[static_cast<size_t>(cChange)] = priceText(now - before);
          if (mv.renumberEvery && id % mv.renumberEvery == 0 && month < mv.renumberFrom)
            row[static_cast<size_t>(cId)] = std::to_string(id + 5000);
          t.rows.push_back(std::move(row));
        }
      }
      char name[64];
      std::snprintf(name, sizeof name, "/2026年%02d月信息价.zdj", month);
      jetwrite::writeDatabase(db, out + name);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_months: %s\n", e.what());
    return 1;
  }
  return 0;
}
