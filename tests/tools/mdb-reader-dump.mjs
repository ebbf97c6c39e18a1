#!/usr/bin/env node
// Prints every row of every user table of an Access file as JSON Lines, read by npm mdb-reader:
//   {"table":"Name","row":{"Column":value,...}}
// Tables come in the order mdb-reader lists them (system and linked tables left out), columns in
// table order. Tests use this as an independent judge of the project's own reader, so every value
// is written in the one canonical form the project's dump uses:
//   text, memo        string
//   byte, integer,    integer
//   long
//   single            shortest decimal that reads back as the same float32
//   double            shortest decimal that reads back as the same double (JavaScript's own form)
//   currency          string with exactly four decimals, "-0.5000"
//   boolean           true / false
//   datetime          "YYYY-MM-DDTHH:MM:SS": days since 1899-12-30, the fraction a positive time
//                     of day even for negative days, rounded to the nearest second;
//                     "invalid" when the stored number is no date at all
//   binary, ole       base64
//   GUID              "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case
//   numeric           decimal string with the column's scale
//   Null              null
// Usage: node mdb-reader-dump.mjs FILE
// mdb-reader is loaded from the node_modules folder named by PATCH16_NODE_MODULES, else from the
// node_modules folders above this script and the current folder.
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

async function loadMdbReader() {
    const bases = [];
    if (process.env.PATCH16_NODE_MODULES)
        bases.push(path.join(path.resolve(process.env.PATCH16_NODE_MODULES), "..", "resolve-from-here.js"));
    bases.push(fileURLToPath(import.meta.url), path.join(process.cwd(), "resolve-from-here.js"));
    for (const base of bases) {
        try {
            const resolved = createRequire(base).resolve("mdb-reader");
            return (await import(pathToFileURL(resolved).href)).default;
        } catch {
            // not in this place; try the next
        }
    }
    throw new Error("npm mdb-reader is not installed (set PATCH16_NODE_MODULES to its node_modules folder)");
}

// Shortest decimal that reads back as the same float32: for each length, the two decimals of that
// length around the value (from its exact expansion, which toExponential gives), the nearer first,
// and on an exact tie the one ending in an even digit (as C++'s std::to_chars chooses).
function singleText(x) {
    if (!Number.isFinite(x) || x === 0) return String(x);
    const sign = x < 0 ? "-" : "";
    const magnitude = Math.abs(x);
    for (let p = 1; p <= 9; p++) {
        const [mantissa, exponent] = magnitude.toExponential(p + 30).split("e");
        const digits = mantissa.replace(".", "");
        const below = Number(digits.slice(0, p));
        const rest = digits.slice(p);
        const half = "5".padEnd(rest.length, "0");
        const nearer = rest < half || (rest === half && below % 2 === 0) ? [below, below + 1] : [below + 1, below];
        for (const candidate of nearer) {
            const value = Number(`${candidate}e${Number(exponent) - (p - 1)}`);
            if (Math.fround(value) === magnitude) return sign + String(value);
        }
    }
    return String(x);
}

const pad = (n, width = 2) => String(n).padStart(width, "0");
const MS_PER_DAY = 86400000;
const MS_1899_TO_1970 = 25569 * MS_PER_DAY;

// mdb-reader turns the stored day count into a Date as one plain number of days (so -1.25 reads as
// 1899-12-28 18:00); Access reads the whole days and then the fraction as a positive time of day
// (-1.25 is 1899-12-29 06:00). This undoes mdb-reader's reading, which kept milliseconds.
// A day count no date can show (mdb-reader gives an invalid Date) is written as "invalid".
function dateTimeText(date) {
    if (Number.isNaN(date.getTime())) return "invalid";
    const plain = date.getTime() + MS_1899_TO_1970;
    let linear = plain;
    if (plain < 0) {
        const days = Math.trunc(plain / MS_PER_DAY) * MS_PER_DAY;
        linear = days - (plain - days);
    }
    const d = new Date(Math.round(linear / 1000) * 1000 - MS_1899_TO_1970);
    return `${pad(d.getUTCFullYear(), 4)}-${pad(d.getUTCMonth() + 1)}-${pad(d.getUTCDate())}` +
        `T${pad(d.getUTCHours())}:${pad(d.getUTCMinutes())}:${pad(d.getUTCSeconds())}`;
}

function canonical(value, type) {
    if (value === null || value === undefined) return null;
    switch (type) {
        case "text": case "memo": case "byte": case "integer": case "long": case "double":
        case "currency": case "numeric": case "boolean":
            return value;
        case "float": return { raw: singleText(value) };
        case "datetime": return dateTimeText(value);
        case "binary": case "ole": return Buffer.from(value).toString("base64");
        case "repid": return `{${value.toUpperCase()}}`;
        default: throw new Error(`column type ${type} is not read by this dump`);
    }
}

// JSON.stringify for the row, except singles, which are written as their own shortest text.
function rowJson(table, columns, row) {
    const fields = columns.map((c) => {
        const v = canonical(row[c.name], c.type);
        return `${JSON.stringify(c.name)}:${v !== null && typeof v === "object" ? v.raw : JSON.stringify(v)}`;
    });
    return `{"table":${JSON.stringify(table)},"row":{${fields.join(",")}}}`;
}

const file = process.argv[2];
if (!file || process.argv.length > 3) {
    process.stderr.write("usage: mdb-reader-dump.mjs FILE\n");
    process.exit(2);
}
try {
    const MDBReader = await loadMdbReader();
    const reader = new MDBReader(readFileSync(file));
    const out = [];
    for (const name of reader.getTableNames({ normalTables: true, systemTables: false, linkedTables: false })) {
        const table = reader.getTable(name);
        const columns = table.getColumns();
        for (const row of table.getData()) out.push(rowJson(name, columns, row));
    }
    process.stdout.write(out.length ? out.join("\n") + "\n" : "");
} catch (error) {
    process.stderr.write(`mdb-reader-dump: ${file}: ${error.message}\n`);
    process.exit(1);
}
