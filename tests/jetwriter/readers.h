// Reading a Jet file back through the three readers the writer is checked
// against: mdbtools (mdb-export, mdb-schema), the npm package mdb-reader, and
// the project's own database provider. Each gives every table as rows of
// optional texts; the comparison normalises per column type.
#pragma once

#include "jetwrite/jetwriter.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace readers {

using Cell = std::optional<std::string>;
using Rows = std::vector<std::vector<Cell>>;

struct Dump {
    std::optional<std::string> password;  // only mdb-reader reports it
    std::vector<std::string> tableNames;
    std::map<std::string, std::vector<std::string>> columns;
    std::map<std::string, Rows> tables;
};

// Runs a shell command; returns its standard output, and its exit status in *status.
std::string run(const std::string& command, int* status = nullptr);
std::string shellQuote(const std::string& s);

Dump viaMdbTools(const std::string& file);
std::string mdbSchema(const std::string& file);

// Empty string when the independent reader is not installed.
std::string independentReaderModules();
Dump viaMdbReader(const std::string& file);

// `velmora-cli dump`, when the tool is part of the build.
bool haveVelmoraCli();
Dump viaVelmoraCli(const std::string& file, const std::string& password);

bool haveProjectReader();
Dump viaProjectReader(const std::string& file, const std::string& password,
                      const std::vector<std::string>& tables);

// Compares what a reader returned with what was written. `emptyMeansNull`: the
// reader cannot tell an empty text from Null (mdb-export). Returns the first
// difference, or "" when all match.
std::string compare(const jetwrite::Database& written, const Dump& read, const std::string& readerName,
                    bool emptyMeansNull);

}  // namespace readers
