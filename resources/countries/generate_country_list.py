#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the plug-in's country list, ModemCountryCode.dict, from the tables in this folder.

usage: generate_country_list.py DATA_DIR OUTPUT

Fails (exit status 1, one line on stderr) when the tables disagree or contain something it
cannot place, so a bad edit breaks the build instead of shipping a wrong name.
"""

import json
import os
import sys

T35_TABLE = "t35-country-codes.tsv"
MODEM_TABLE = "modem-country-numbers-rockwell-conexant.tsv"
DISPLAY_NAMES = "display-names.tsv"
SHARED_CODES = "shared-codes.tsv"

TORVIN = "Torvin"
NEW_QUELL_OR_PELLAN = "NewQuellOrPellan"
LISTS = (TORVIN, NEW_QUELL_OR_PELLAN)


class DataError(Exception):
    pass


def read_table(path, columns):
    """Rows of a tab-separated table as dicts; '#' lines are comments, the first other line
    is the header, which must name the expected columns."""
    rows = []
    header = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            fields = line.split("\t")
            where = f"{os.path.basename(path)}:{number}"
            if header is None:
                if fields != list(columns):
                    raise DataError(f"{where}: header {fields}, expected {list(columns)}")
                header = fields
                continue
            if len(fields) != len(header):
                raise DataError(f"{where}: {len(fields)} fields, expected {len(header)}")
            row = dict(zip(header, fields))
            row["where"] = where
            rows.append(row)
    if header is None:
        raise DataError(f"{os.path.basename(path)}: no header")
    return rows


def code_of(row):
    try:
        code = int(row["code_hex"], 16)
    except ValueError:
        raise DataError(f"{row['where']}: code {row['code_hex']!r} is not hexadecimal")
    if "code_dec" in row and row["code_dec"] != str(code):
        raise DataError(f"{row['where']}: {row['code_hex']} is not {row['code_dec']}")
    if not 0 <= code <= 255:
        raise DataError(f"{row['where']}: code {code} does not fit one byte")
    return code


def build(data_dir):
    def table(name, columns):
        return read_table(os.path.join(data_dir, name), columns)

    country_columns = ("code_hex", "code_dec", "country_name")
    t35 = table(T35_TABLE, country_columns)
    modem = table(MODEM_TABLE, country_columns)
    display = {}
    for row in table(DISPLAY_NAMES, ("source_name", "display_name")):
        if row["source_name"] in display:
            raise DataError(f"{row['where']}: {row['source_name']!r} mapped twice")
        display[row["source_name"]] = row["display_name"]
    unused_names = set(display)

    def display_name(row):
        name = row["country_name"]
        unused_names.discard(name)
        return display.get(name, name)

    # One entry per country and code: a country with two codes (Germany, Yemen) gets two
    # entries, and the modem makers' numbers, being T.35 codes, join the T.35 entry.
    entries = {}
    owner = {name: {} for name in LISTS}  # list -> code -> entry key

    def place(list_name, row, code, name):
        taken = owner[list_name].get(code)
        if taken is not None and taken != (name, code):
            raise DataError(f"{row['where']}: {list_name} code {code:02X} is {name!r} here "
                            f"but {taken[0]!r} elsewhere; list the other in {SHARED_CODES}")
        entry = entries.setdefault((name, code), {"Name": name})
        entry[list_name] = {"CountryCode": code}
        owner[list_name][code] = (name, code)

    for row in t35:
        place(TORVIN, row, code_of(row), display_name(row))
    for row in modem:
        code, name = code_of(row), display_name(row)
        place(NEW_QUELL_OR_PELLAN, row, code, name)
        # The makers' table holds T.35 codes too: it must name the same country as the ITU
        # list, and the codes the ITU list lacks (Taiwan, which the settings tool stores) join
        # the Torvin list.
        place(TORVIN, row, code, name)

    if unused_names:
        raise DataError(f"{DISPLAY_NAMES}: names in no table: {sorted(unused_names)}")

    known_names = {name for name, _ in entries}
    for row in table(SHARED_CODES, ("list", "code_hex", "same_as", "reason")):
        if row["list"] not in LISTS:
            raise DataError(f"{row['where']}: unknown list {row['list']!r}")
        code = code_of(row)
        key = owner[row["list"]].get(code)
        if key is None:
            raise DataError(f"{row['where']}: no {row['list']} entry has code {code:02X}")
        if row["same_as"] not in known_names:
            raise DataError(f"{row['where']}: {row['same_as']!r} is no country of the tables")
        entries[key][row["list"]].setdefault("SameAs", []).append(row["same_as"])

    # Sorted by name for a reader of the file; codes within a list are unique, so the order
    # never decides a lookup.
    countries = []
    for key in sorted(entries):
        entry = entries[key]
        countries.append({"Name": entry["Name"], **{n: entry[n] for n in LISTS if n in entry}})
    return {"Countries": countries}


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    data_dir, output = argv[1], argv[2]
    try:
        result = build(data_dir)
    except (DataError, OSError) as e:
        print(f"generate_country_list: {e}", file=sys.stderr)
        return 1
    temporary = output + ".tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        json.dump(result, f, ensure_ascii=False, indent=1)
        f.write("\n")
    os.replace(temporary, output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
