// Reads a Jet file with the independent reader (npm package mdb-reader) and
// prints what it finds as JSON: the password, then every user table with its
// columns and rows. Usage: node read_with_mdb_reader.mjs NODE_MODULES FILE
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { pathToFileURL } from "node:url";

const [modules, file] = process.argv.slice(2);
const entry = createRequire(path.join(modules, "noop.js")).resolve("mdb-reader");
const { default: MDBReader } = await import(pathToFileURL(entry).href);

const reader = new MDBReader(readFileSync(file));
const out = { password: reader.getPassword(), tables: {} };
for (const name of reader.getTableNames()) {
  const table = reader.getTable(name);
  const rows = table.getData().map((row) => {
    const values = {};
    for (const [k, v] of Object.entries(row)) values[k] = v instanceof Date ? v.toISOString() : v;
    return values;
  });
  out.tables[name] = {
    columns: table.getColumns().map((c) => ({ name: c.name, type: c.type, size: c.size })),
    rowCount: table.rowCount,
    rows,
  };
}
process.stdout.write(JSON.stringify(out));
