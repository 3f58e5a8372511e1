// DuckDB as a peer of the import benchmark: loads the six log fields qel loads (Host, DateTime,
// URL, Code, Size, Ref = fields 1, 4, 6, 7, 8, 9 of a line split at blanks with double quotes
// grouping a field; a size of "-" is null) with read_csv into a table of a fresh DuckDB file.
// usage: node load.mjs LOGFILE DATABASE
import { DuckDBInstance } from '@duckdb/node-api';

const [logFile, dbFile] = process.argv.slice(2);
if (!logFile || !dbFile) {
  console.error('usage: node load.mjs LOGFILE DATABASE');
  process.exit(2);
}
const quote = (s) => "'" + s.replaceAll("'", "''") + "'";
const columns = Array.from({ length: 10 }, (_, i) => `'c${i + 1}': 'VARCHAR'`).join(', ');

const instance = await DuckDBInstance.create(dbFile);
const connection = await instance.connect();
await connection.run(`CREATE TABLE log AS
  SELECT c1 AS Host, c4 AS DateTime, c6 AS URL, CAST(c7 AS INTEGER) AS Code,
         CAST(NULLIF(c8, '-') AS INTEGER) AS Size, c9 AS Ref
  FROM read_csv(${quote(logFile)}, delim = ' ', quote = '"', escape = '"', header = false,
                auto_detect = false, columns = {${columns}})`);
const result = await connection.run('SELECT count(*) FROM log');
const rows = await result.getRows();
console.log(`rows ${rows[0][0]}`);
connection.closeSync();
instance.closeSync();
