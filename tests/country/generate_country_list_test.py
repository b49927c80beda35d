#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Tables the country list generator must refuse, each one fault away from a good set."""

import os
import subprocess
import sys
import tempfile
import unittest

GENERATOR = sys.argv.pop(1) if len(sys.argv) > 1 else "resources/countries/generate_country_list.py"
T35, MODEM = "t35-country-codes.tsv", "modem-country-numbers-rockwell-conexant.tsv"
NAMES, SHARED = "display-names.tsv", "shared-codes.tsv"
HEADER = "# sources: test\ncode_hex\tcode_dec\tcountry_name\n"
GOOD = {
    T35: HEADER + "2E\t46\tCzech Rep.\nB5\t181\tUnited States\nC5\t197\tSlovakia\n",
    MODEM: HEADER + "2E\t46\tCzech and Slovak Federal Republic\nFE\t254\tTaiwan\n",
    NAMES: "source_name\tdisplay_name\nCzech Rep.\tCzech Republic\n"
           "Czech and Slovak Federal Republic\tCzech Republic\n",
    SHARED: "list\tcode_hex\tsame_as\treason\nTorvin\t2E\tSlovakia\tr\n",
}


def generate(tables):
    with tempfile.TemporaryDirectory() as d:
        for name, text in tables.items():
            with open(os.path.join(d, name), "w", encoding="utf-8") as f:
                f.write(text)
        p = subprocess.run([sys.executable, GENERATOR, d, os.path.join(d, "out")], capture_output=True, text=True)
        return p.returncode, p.stderr


class GeneratorTest(unittest.TestCase):
    def test_refuses_bad_tables(self):
        self.assertEqual(generate(GOOD), (0, ""))
        cases = {
            "hex and decimal disagree": (T35, "B6\t181\tBurkina Faso\n"),
            "not hexadecimal": (T35, "G1\t0\tNowhere\n"),
            "above one byte": (T35, "100\t256\tNowhere\n"),
            "code given twice": (T35, "B5\t181\tUSA\n"),
            "tables name different countries": (MODEM, "B5\t181\tCanada\n"),
            "missing field": (MODEM, "B4\t180\n"),
            "unused display name": (NAMES, "Gone\tNowhere\n"),
            "name mapped twice": (NAMES, "Czech Rep.\tCzechia\n"),
            "shared code in no entry": (SHARED, "Torvin\t01\tSlovakia\tr\n"),
            "shared country unknown": (SHARED, "Torvin\tB5\tSlovakai\tr\n"),
            "shared list unknown": (SHARED, "OldQuell\t2E\tSlovakia\tr\n"),
        }
        for why, (name, row) in cases.items():
            with self.subTest(why):
                status, err = generate({**GOOD, name: GOOD[name] + row})
                self.assertEqual(status, 1)
                self.assertTrue(err.startswith("generate_country_list: "), err)
        with self.subTest("missing table"):
            self.assertEqual(generate({k: v for k, v in GOOD.items() if k != MODEM})[0], 1)


if __name__ == "__main__":
    unittest.main()
