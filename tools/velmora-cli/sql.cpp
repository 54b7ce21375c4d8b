// velmora-cli sql FILE --password PW "STATEMENT": runs one statement the way
// the programs run theirs and prints the records, tab-separated.
#include <cstdio>

#include "commands.h"
#include "platform/database/adodb.h"

namespace {

int runSql(const std::vector<std::string>& args) {
  cli::Options o = cli::parseOptions(args);
  if (!o.ok || o.positional.size() != 2) {
    std::fprintf(stderr, "usage: velmora-cli sql FILE --password PW \"STATEMENT\"\n%s\n", o.problem.c_str());
    return 2;
  }
  try {
    ado::Connection conn;
    conn.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + ado::connectionValue(o.positional[0]) +
              ";Persist Security Info=False;Jet OLEDB:Database Password=" + ado::connectionValue(o.password));
    ado::Recordset rs;
    rs.Open(o.positional[1], conn, 1, 1, -1);
    const int n = rs.FieldsCount();
    std::string out;
    for (int i = 0; i < n; ++i) {
      if (i) out += '\t';
      out += rs.Fields(i).Name();
    }
    out += '\n';
    const long count = rs.RecordCount();
    for (long r = 0; r < count; ++r) {
      for (int i = 0; i < n; ++i) {
        if (i) out += '\t';
        out += rs.Fields(i).Value().toText();
      }
      out += '\n';
      rs.MoveNext();
    }
    out += "RecordCount: " + std::to_string(count) + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    rs.Close();
    conn.Close();
    return 0;
  } catch (const ado::Error& e) {
    return cli::reportError(e.number, e.description);
  }
}

}  // namespace

VELMORA_CLI_COMMAND(sql, "sql FILE --password PW \"STATEMENT\"", runSql);
