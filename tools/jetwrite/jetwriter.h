// Writes Jet 4 (Access 2000 format) database files from an in-memory description
// of tables, columns and rows. Used to generate test fixtures and the demo
// program folder from readable sources.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace jetwrite {

enum class ColumnType { Text, Memo, Byte, Integer, Long, Single, Double, Currency, DateTime, YesNo, Guid };

struct Column {
    std::string name;
    ColumnType type;
    int length = 255;  // Text only, in characters (1..255)
};

// Textual value: numbers "12.5", currency "3.5000", dates "2026-12-01 08:30:00"
// (or "2026-12-01"), Yes/No "true"/"false" (also "1"/"0", "yes"/"no"), GUIDs
// "{6B29FC40-CA47-1067-B31D-00DD010662DA}" (braces optional);
// nullopt = Null.
using Value = std::optional<std::string>;

struct Table {
    std::string name;
    std::vector<Column> columns;
    std::vector<std::vector<Value>> rows;
};

struct Database {
    std::vector<Table> tables;
    std::string password;  // "" = none; at most 20 characters
};

// Writes the database to `path`. Throws std::runtime_error when the description
// cannot be written (bad value, text longer than its column, ...); in that case no
// file is left at `path` (an existing file there is left untouched).
void writeDatabase(const Database& db, const std::string& path);

// Reads a plain-text description (see tools/jetwrite/README.md for the format).
// Relative CSV paths are resolved against `baseDir`. Throws DescriptionError with
// the file and line number of the first fault.
struct DescriptionError : std::runtime_error {
    DescriptionError(const std::string& file, int line, const std::string& what);
    std::string file;
    int line;
};
Database parseDescription(const std::string& text, const std::string& fileName, const std::string& baseDir);
Database readDescriptionFile(const std::string& path);

// Checks one value against its column the way writeDatabase will store it.
// Returns the reason when the value cannot be stored, nothing when it can.
std::optional<std::string> checkValue(const Column& column, const Value& value);

// Parses a type name as written in a description ("Text", "Long", "Currency", ...).
std::optional<ColumnType> parseColumnType(const std::string& name);

}  // namespace jetwrite
