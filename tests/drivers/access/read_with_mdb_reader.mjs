// Prints what mdb-reader finds in a database as JSON: every user table with its row count,
// and the rows of the tables named after the file.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const [file, ...dump] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file));
const result = { tables: {}, rows: {} };
for (const name of reader.getTableNames()) {
  const table = reader.getTable(name);
  result.tables[name] = table.rowCount;
  if (dump.includes(name)) {
    result.rows[name] = table.getData().map((row) =>
      Object.fromEntries(Object.entries(row).map(([k, v]) => [k, v instanceof Date ? v.toISOString() : v])));
    result.read = (result.read ?? 0) + result.rows[name].length;
  }
}
process.stdout.write(JSON.stringify(result));
