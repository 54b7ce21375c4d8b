#include "price_tools/pricelist/choices.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QString>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/atomic_file.h"
#include "price_tools/pricelist/material_list.h"

namespace price_tools::pricelist {

namespace {

namespace fs = std::filesystem;

// The file's own mark: only a file that carries it is ever replaced.
constexpr const char* kFormat = "velmora-list-choices";
constexpr int kVersion = 1;
constexpr uint64_t kMaxFileBytes = uint64_t{64} << 20;
constexpr char kSeparator = '\x1f';

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string s(const QJsonValue& v) { return v.toString().toStdString(); }

std::string keyOfParts(const std::string& name, const std::string& model, const std::string& unit) {
  return foldedText(name) + kSeparator + foldedText(model) + kSeparator + foldedText(unit);
}

std::string fileName(const std::string& path) { return fs::path(path).filename().string(); }

[[noreturn]] void damaged(const std::string& path, const std::string& why) {
  throw std::runtime_error(fileName(path) + ": 选择记录文件已损坏（" + why + "），未读取其中的选择");
}

// Reads the file's bytes; nullopt when there is no file.
std::optional<std::string> readBytes(const std::string& path) {
  std::error_code ec;
  const fs::path p = fs::path(path);
  const auto status = fs::status(p, ec);
  if (ec || !fs::exists(status)) return std::nullopt;
  if (!fs::is_regular_file(status)) throw std::runtime_error(fileName(path) + ": 不是普通文件，无法读取选择记录");
  const auto size = fs::file_size(p, ec);
  if (ec) throw std::runtime_error(fileName(path) + ": 无法读取选择记录（" + ec.message() + "）");
  if (size > kMaxFileBytes) damaged(path, "文件过大");
  std::ifstream in(p, std::ios::binary);
  std::string bytes(static_cast<size_t>(size), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!in) throw std::runtime_error(fileName(path) + ": 无法读取选择记录");
  return bytes;
}

}  // namespace

std::string Choices::besidePath(const std::string& listPath) { return listPath + ".velmora.json"; }

std::string Choices::keyOf(const ListLine& line) { return keyOfParts(line.name, line.model, line.unit); }

std::optional<Choice> Choices::find(const ListLine& line) const {
  const auto it = byKey_.find(keyOf(line));
  if (it == byKey_.end()) return std::nullopt;
  return it->second;
}

void Choices::set(const ListLine& line, const Choice& choice) { byKey_[keyOf(line)] = choice; }

void Choices::clear(const ListLine& line) { byKey_.erase(keyOf(line)); }

Choices Choices::load(const std::string& path) {
  Choices out;
  const auto bytes = readBytes(path);
  if (!bytes) return out;
  QJsonParseError error{};
  const QJsonDocument doc =
      QJsonDocument::fromJson(QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size())), &error);
  if (error.error != QJsonParseError::NoError)
    damaged(path, "第 " + std::to_string(error.offset) + " 个字节处：" + error.errorString().toStdString());
  const QJsonObject root = doc.object();
  if (!doc.isObject() || root.value("format").toString() != QLatin1String(kFormat))
    damaged(path, "不是材料清单的选择记录");
  if (root.value("version").toInt() > kVersion) damaged(path, "由更新版本的程序写成");
  const QJsonValue list = root.value("choices");
  if (!list.isArray()) damaged(path, "缺少 choices");
  for (const QJsonValue& v : list.toArray()) {
    const QJsonObject o = v.toObject();
    const QJsonObject line = o.value("line").toObject();
    if (!v.isObject() || !line.value("name").isString()) damaged(path, "某条选择缺少所属的清单行");
    Choice c;
    c.none = o.value("none").toBool();
    const QJsonObject product = o.value("product").toObject();
    if (!c.none && !product.value("name").isString()) damaged(path, "某条选择缺少所选的材料");
    c.name = s(product.value("name"));
    c.model = s(product.value("model"));
    c.unit = s(product.value("unit"));
    c.factory = s(product.value("factory"));
    out.byKey_[keyOfParts(s(line.value("name")), s(line.value("model")), s(line.value("unit")))] = c;
  }
  return out;
}

void Choices::save(const std::string& path) const {
  // Never over a file that is not a choices file of ours (a damaged one
  // included: what the user can still recover from it stays).
  if (readBytes(path)) {
    try {
      load(path);
    } catch (const std::runtime_error& e) {
      throw std::runtime_error(std::string(e.what()) + "；没有覆盖它，选择未保存");
    }
  }
  QJsonArray list;
  for (const auto& [key, c] : byKey_) {
    const size_t a = key.find(kSeparator), b = key.find(kSeparator, a + 1);
    QJsonObject line{{"name", q(key.substr(0, a))},
                     {"model", q(key.substr(a + 1, b - a - 1))},
                     {"unit", q(key.substr(b + 1))}};
    QJsonObject o{{"line", line}, {"none", c.none}};
    if (!c.none)
      o.insert("product", QJsonObject{{"name", q(c.name)}, {"model", q(c.model)}, {"unit", q(c.unit)},
                                      {"factory", q(c.factory)}});
    list.append(o);
  }
  const QJsonObject root{{"format", kFormat}, {"version", kVersion}, {"choices", list}};
  const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
  std::string error;
  if (!common::writeFileAtomic(path, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), &error))
    throw std::runtime_error(fileName(path) + ": 无法保存选择记录（" + error + "）");
}

}  // namespace price_tools::pricelist
