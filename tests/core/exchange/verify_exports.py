#!/usr/bin/env python3
"""Exports the hand-made fixture database in all three formats with kvendar-data and reads the
results back with readers that share nothing with the program: Python's csv module, openpyxl, and
ReadStat's own command-line tools. The expected rows come from decoding the .dat files here.

usage: verify_exports.py KVENDAR_DATA FIXTURE_DIR
Exit 0 all good, 1 a mismatch, 77 a reader is not installed (CTest reports the test as skipped).
"""
import csv
import datetime
import io
import json
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def eq(actual, expected, what):
    check(actual == expected, "%s: %r != %r" % (what, actual, expected))


# --- the records, decoded by hand -------------------------------------------------------------

def short(rec, at):
    return rec[at + 1:at + 1 + min(rec[at], 80)].decode("cp1251")


def read_tests(path):
    data = open(path, "rb").read()
    tests = []
    for k in range(len(data) // 681):
        r = data[k * 681:(k + 1) * 681]
        tests.append({
            "id": struct.unpack_from("<I", r, 0)[0], "fio": short(r, 4),
            "date": struct.unpack_from("<d", r, 85)[0], "age": struct.unpack_from("<i", r, 93)[0],
            "sex": r[97], "texts": [short(r, o) for o in (98, 179, 260, 341, 422, 503, 584)],
            "scores": list(struct.unpack_from("<4i", r, 665)),
        })
    return tests


def read_values(path):
    data = open(path, "rb").read()
    values = []
    for k in range(len(data) // 94):
        r = data[k * 94:(k + 1) * 94]
        vid, tid, group, score = struct.unpack_from("<iiBi", r, 0)
        values.append({"id": vid, "test": tid, "group": group, "wins": score, "name": short(r, 13)})
    return values


def read_answers(path):
    data = open(path, "rb").read()
    answers = []
    for k in range(len(data) // 181):
        r = data[k * 181:(k + 1) * 181]
        aid, tid, question, ugroup = struct.unpack_from("<IIIB", r, 0)
        answers.append({"id": aid, "test": tid, "question": question, "upper_group": ugroup, "upper": short(r, 13),
                        "lower_group": r[94], "lower": short(r, 95), "chosen": r[176],
                        "ms": struct.unpack_from("<I", r, 177)[0]})
    return answers


def with_unrecorded(tests, values, answers):
    """The value records, then the values that only the answers of an existing test name (they won
    nothing), each once, in order of first mention; and the answers of existing tests."""
    ids = {t["id"] for t in tests}
    known = {(v["test"], v["group"], v["name"]) for v in values}
    rows = list(values)
    kept = [a for a in answers if a["test"] in ids]
    for a in kept:
        for group, name in ((a["upper_group"], a["upper"]), (a["lower_group"], a["lower"])):
            if (a["test"], group, name) not in known:
                known.add((a["test"], group, name))
                rows.append({"id": None, "test": a["test"], "group": group, "wins": 0, "name": name})
    return rows, kept


def mean_ranks(values):
    ranks = []
    for v in values:
        mine = [w["wins"] for w in values if w["test"] == v["test"]]
        above = sum(1 for w in mine if w > v["wins"])
        tied = sum(1 for w in mine if w == v["wins"])
        ranks.append(above + (tied + 1) / 2)
    return ranks


def kendall(wins, complete):
    """Circular triads and the coefficient of consistence, or None when the wins cannot come from
    one complete comparison. Without an answer log the values that won nothing are missing, and n
    is what the wins add up to."""
    total = sum(wins)
    n = len(wins)
    if not complete:
        while n * (n - 1) // 2 < total:
            n += 1
    if n * (n - 1) // 2 != total or any(w < 0 or w > n - 1 for w in wins):
        return None
    d = n * (n - 1) * (n - 2) // 6 - sum(w * (w - 1) // 2 for w in wins)
    dmax = (n ** 3 - n) // 24 if n % 2 else (n ** 3 - 4 * n) // 24
    return d, (1 - d / dmax) if dmax else 1.0, n


EPOCH = datetime.datetime(1899, 12, 30)


def record_datetime(days):
    if not math.isfinite(days):
        return None
    whole = math.trunc(days)
    ms = round(abs(days - whole) * 86400000)
    return EPOCH + datetime.timedelta(days=whole, milliseconds=ms)


SEX = ["Нет ответа", "Мужской", "Женский"]
LISTS = {
    "family_status": ["Нет ответа", "Холост", "Гражданский брак", "Женат / замужем", "Разведен / разведена"],
    "children": ["Нет ответа", "Нет детей", "Один ребенок", "Два ребенка", "Три и более детей",
                 "Врослые самостоятельные дети", "Другое"],
    "residence": ["Нет ответа", "Москва", "Санкт-Петербург", "Областной, краевой центр", "Районный центр",
                  "Поселок, село"],
    "education": ["Нет ответа", "Среднее", "Среднее специальное", "Высшее", "Академическое"],
    "social_status": ["Нет ответа", "Учащийся, студент, аспирант", "Рабочий", "Безработный",
                      "Госслужайщий / бюджетник", "Сотрудник коммерческой компании", "Топ-менеджер, руководитель",
                      "Бизнесмен / предприниматель", "Пенсионер", "Безработный", "Другое "],
    "occupation": ["Нет ответа", "Политика", "Властные структуры", "СМИ", "Производство", "Торговля",
                   "Здравоохранение", "Образование", "Услуги населению", "Услуги предприятиям", "Частный бизнес",
                   "Другое"],
    "income_level": ["Нет ответа", "Недостаточный", "Низкий", "Ниже среднего", "Средний", "Выше среднего",
                     "Высокий"],
}
CHOICES = list(LISTS)
TESTS_HEADER = ["test_id", "name", "date", "age", "sex"] + CHOICES + [
    "score_ideological", "score_material", "score_emotional", "score_vital", "n_values", "circular_triads",
    "consistency", "p_random"]
VALUES_HEADER = ["test_id", "value_id", "group", "group_name", "value", "wins", "rank"]
ANSWERS_HEADER = ["test_id", "question", "upper", "upper_group", "lower", "lower_group", "chosen", "response_ms"]
GROUPS = ["Идеологические ценности", "Материальные, вещные ценности", "Эмоциональные ценности",
          "Витальные ценности"]


def run_export(tool, fmt, data, out):
    result = subprocess.run([tool, "export", "--format", fmt, data, out], capture_output=True, text=True)
    eq(result.returncode, 0, "export %s exit status (%s)" % (fmt, result.stderr.strip()))


# --- CSV ----------------------------------------------------------------------------------------

def answer_row(a):
    return [a["test"], a["question"], a["upper"], a["upper_group"], a["lower"], a["lower_group"], a["chosen"], a["ms"]]


def verify_csv(tool, data, work, tests, values, ranks, answers):
    out = os.path.join(work, "csv")
    run_export(tool, "csv", data, out)
    eq(sorted(os.listdir(out)), ["answers.csv", "tests.csv", "values.csv"], "csv files")
    tables = {}
    for name in ("tests", "values", "answers"):
        raw = open(os.path.join(out, name + ".csv"), "rb").read()
        check(raw.startswith(b"\xef\xbb\xbf"), name + ".csv starts with a byte-order mark")
        rows = list(csv.reader(io.StringIO(raw[3:].decode("utf-8"), newline=""), strict=True))
        # Written again by Python's own RFC 4180 writer, the rows give back the very bytes: commas,
        # CR LF after each row, quotes exactly where a field needs them.
        again = io.StringIO(newline="")
        csv.writer(again, lineterminator="\r\n").writerows(rows)
        eq(again.getvalue().encode("utf-8"), raw[3:], name + ".csv bytes as RFC 4180")
        tables[name] = rows

    eq(tables["tests"][0], TESTS_HEADER, "tests.csv header")
    counts = {t["id"]: sum(1 for v in values if v["test"] == t["id"]) for t in tests}
    for row, t in zip(tables["tests"][1:], tests):
        when = record_datetime(t["date"])
        mine = [v for v in values if v["test"] == t["id"]]
        figures = kendall([v["wins"] for v in mine], any(a["test"] == t["id"] for a in answers))
        # n_values is the number of values compared; an age of 0 was left empty and is missing.
        compared = figures[2] if figures is not None else counts[t["id"]]
        expected = [str(t["id"]), t["fio"], when.isoformat(timespec="milliseconds") if when else "",
                    str(t["age"]) if t["age"] else "", SEX[t["sex"]] if t["sex"] < 3 else str(t["sex"])] + t["texts"] + [
                        str(s) for s in t["scores"]] + [str(compared)]
        eq(row[:17], expected, "tests.csv row of test %d" % t["id"])
        if figures is None:
            eq(row[17:], ["", "", ""], "tests.csv no consistency for test %d" % t["id"])
        else:
            eq([int(row[17]), float(row[18])], [figures[0], figures[1]], "tests.csv consistency of test %d" % t["id"])
            check(0 < float(row[19]) <= 1, "tests.csv p_random of test %d: %s" % (t["id"], row[19]))
    eq(len(tables["tests"]), len(tests) + 1, "tests.csv rows")

    eq(tables["values"][0], VALUES_HEADER, "values.csv header")
    for row, v, rank in zip(tables["values"][1:], values, ranks):
        expected = [str(v["test"]), "" if v["id"] is None else str(v["id"]), str(v["group"]), GROUPS[v["group"] - 1],
                    v["name"], str(v["wins"])]
        eq(row[:6], expected, "values.csv row of %s" % v["name"])
        eq(float(row[6]), rank, "values.csv rank of %s" % v["name"])
    eq(len(tables["values"]), len(values) + 1, "values.csv rows")
    eq(tables["answers"][0], ANSWERS_HEADER, "answers.csv header")
    eq(tables["answers"][1:], [[str(x) for x in answer_row(a)] for a in answers], "answers.csv rows")


# --- XLSX ---------------------------------------------------------------------------------------

def verify_xlsx(tool, data, work, tests, values, ranks, answers):
    import openpyxl
    out = os.path.join(work, "export.xlsx")
    run_export(tool, "xlsx", data, out)
    from openpyxl.utils.escape import unescape
    book = openpyxl.load_workbook(out)

    def text(value):
        # XML turns a carriage return into a line feed, so the format writes it as _x000D_; Excel
        # reads that back in every cell, openpyxl only in shared strings, not in inline ones.
        return unescape(value) if isinstance(value, str) else value

    eq(book.sheetnames, ["tests", "values", "answers"], "xlsx sheets")
    sheet = book["tests"]
    eq(sheet.freeze_panes, "A2", "tests sheet header frozen")
    eq(book["values"].freeze_panes, "A2", "values sheet header frozen")
    rows = list(sheet.iter_rows(values_only=True))
    eq(list(rows[0]), TESTS_HEADER, "tests sheet header")
    for row, t in zip(rows[1:], tests):
        eq(row[0], t["id"], "xlsx test_id")
        eq(text(row[1]), t["fio"] or None, "xlsx name of test %d" % t["id"])
        when = record_datetime(t["date"])
        if when is None:
            eq(row[2], None, "xlsx missing date of test %d" % t["id"])
        elif when >= datetime.datetime(1900, 3, 1):
            check(isinstance(row[2], datetime.datetime), "xlsx date of test %d is a real date" % t["id"])
            if isinstance(row[2], datetime.datetime):
                check(abs((row[2] - when).total_seconds()) < 0.002, "xlsx date of test %d: %r != %r" % (
                    t["id"], row[2], when))
        else:
            eq(row[2], when.isoformat(timespec="milliseconds"), "xlsx early date of test %d as text" % t["id"])
        eq(row[3], t["age"] or None, "xlsx age")
        eq(list(row[5:12]), [x or None for x in t["texts"]], "xlsx answers of test %d" % t["id"])
        eq(list(row[12:16]), t["scores"], "xlsx scores of test %d" % t["id"])
    rows = list(book["values"].iter_rows(values_only=True))
    eq(list(rows[0]), VALUES_HEADER, "values sheet header")
    for row, v, rank in zip(rows[1:], values, ranks):
        eq([text(x) for x in row], [v["test"], v["id"], v["group"], GROUPS[v["group"] - 1], v["name"], v["wins"], rank],
           "xlsx value %s" % v["name"])
    eq(len(rows), len(values) + 1, "values sheet rows")
    rows = list(book["answers"].iter_rows(values_only=True))
    eq(list(rows[0]), ANSWERS_HEADER, "answers sheet header")
    eq([[text(x) for x in row] for row in rows[1:]], [answer_row(a) for a in answers], "answers sheet rows")


# --- SAV ----------------------------------------------------------------------------------------

SPSS_EPOCH = datetime.datetime(1582, 10, 14)


def readstat_rows(path):
    result = subprocess.run(["readstat", path, "-"], capture_output=True)
    eq(result.returncode, 0, "readstat %s" % path)
    return list(csv.reader(io.StringIO(result.stdout.decode("utf-8"), newline="")))


def verify_sav(tool, data, work, tests, values, ranks, answers):
    out = os.path.join(work, "sav")
    run_export(tool, "sav", data, out)
    eq(sorted(os.listdir(out)), ["answers.sav", "tests.sav", "values.sav"], "sav files")
    meta_file = os.path.join(work, "tests.json")
    subprocess.run(["extract_metadata", os.path.join(out, "tests.sav"), meta_file], capture_output=True)
    meta = {v["name"]: v for v in json.load(open(meta_file))["variables"]}
    eq(meta["age"]["label"], "Возраст, полных лет", "sav variable label of age")
    eq([c["label"] for c in meta["sex"]["categories"]], SEX, "sav value labels of sex")
    for name, items in LISTS.items():
        labels = {int(c["code"]): c["label"] for c in meta[name]["categories"]}
        # SPSS keeps labels without trailing blanks; the code is what must not move.
        # An item the list names twice is labelled at its first code only: no two codes read the same.
        eq({k: v.rstrip() for k, v in labels.items()},
           {k: v.rstrip() for k, v in enumerate(items) if items.index(v) == k}, "sav value labels of " + name)
        eq(len(set(labels.values())), len(labels), "sav value labels of %s are distinct" % name)
        check(name + "_other" in meta, "sav keeps unmatched answers of %s beside the code" % name)

    rows = readstat_rows(os.path.join(out, "tests.sav"))
    header = rows[0]
    for row, t in zip(rows[1:], tests):
        cell = dict(zip(header, row))
        eq(float(cell["test_id"]), t["id"], "sav test_id")
        eq(cell["name"], t["fio"], "sav name of test %d" % t["id"])
        when = record_datetime(t["date"])
        if when is None:
            eq(cell["date"], "", "sav missing date")
        else:
            check(abs(float(cell["date"]) - (when - SPSS_EPOCH).total_seconds()) < 0.002,
                  "sav date of test %d: %s" % (t["id"], cell["date"]))
        eq(cell["age"], "" if t["age"] == 0 else cell["age"], "sav missing age of test %d" % t["id"])
        if t["age"]:
            eq(float(cell["age"]), t["age"], "sav age of test %d" % t["id"])
        eq(float(cell["sex"]), t["sex"], "sav sex code of test %d" % t["id"])
        for name, text in zip(CHOICES, t["texts"]):
            # Trailing blanks never tell two answers apart: «Другое» is the list's «Другое ».
            items = [item.rstrip() for item in LISTS[name]]
            if text.rstrip() in items:
                eq(float(cell[name]), items.index(text.rstrip()), "sav code of %s in test %d" % (name, t["id"]))
                eq(cell[name + "_other"], "", "sav no other text for %s in test %d" % (name, t["id"]))
            else:
                eq(cell[name], "", "sav missing code for unmatched %s in test %d" % (name, t["id"]))
                eq(cell[name + "_other"], text, "sav other text of %s in test %d" % (name, t["id"]))
    eq(len(rows), len(tests) + 1, "sav tests rows")

    rows = readstat_rows(os.path.join(out, "values.sav"))
    eq(rows[0], VALUES_HEADER, "sav values variables")
    for row, v, rank in zip(rows[1:], values, ranks):
        eq([float(row[0]), float(row[1]) if row[1] else None, float(row[2]), row[3], row[4], float(row[5]),
            float(row[6])], [v["test"], v["id"], v["group"], GROUPS[v["group"] - 1], v["name"], v["wins"], rank],
           "sav value %s" % v["name"])
    eq(len(rows), len(values) + 1, "sav values rows")
    rows = readstat_rows(os.path.join(out, "answers.sav"))
    eq(rows[0], ANSWERS_HEADER, "sav answers variables")
    eq([[float(x) if k not in (2, 4) else x for k, x in enumerate(row)] for row in rows[1:]],
       [answer_row(a) for a in answers], "sav answers rows")
    subprocess.run(["extract_metadata", os.path.join(out, "answers.sav"), meta_file], capture_output=True)
    meta = {v["name"]: v for v in json.load(open(meta_file))["variables"]}
    eq({int(c["code"]): c["label"] for c in meta["chosen"]["categories"]}, {1: "верхняя", 2: "нижняя"},
       "sav value labels of chosen")


SPSS_MONTHS = ["JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"]


def verify_sav_pspp(work, tests):
    """PSPP, another reader of the format, opens the files without an error and shows dates as dates."""
    out = os.path.join(work, "sav")
    syntax = os.path.join(work, "read.sps")
    listing = os.path.join(work, "pspp.csv")
    with open(syntax, "w", encoding="utf-8") as f:
        for name in ("tests", "values", "answers"):
            f.write("GET FILE='%s'.\nDISPLAY DICTIONARY.\n" % os.path.join(out, name + ".sav"))
        f.write("GET FILE='%s'.\nLIST VARIABLES=test_id date.\n" % os.path.join(out, "tests.sav"))
    result = subprocess.run(["pspp", "-O", "format=csv", "-o", listing, syntax], capture_output=True, text=True)
    eq(result.returncode, 0, "pspp reads the sav files (%s)" % result.stderr.strip())
    text = open(listing, encoding="utf-8").read()
    for word in ("error", "warning"):
        check(word not in text.lower(), "pspp says no %s: %s" % (word, text[:2000]))
    rows = list(csv.reader(io.StringIO(text[text.rindex("test_id,date"):])))
    shown = {float(r[0]): r[1].strip() for r in rows[1:] if len(r) == 2}
    for t in tests:
        when = record_datetime(t["date"])
        expected = "." if when is None else "%02d-%s-%04d %s" % (
            when.day, SPSS_MONTHS[when.month - 1], when.year, when.strftime("%H:%M:%S.%f")[:12])
        eq(shown.get(float(t["id"])), expected, "pspp shows the date of test %d" % t["id"])


def verify_selection(tool, data, work, values):
    """Only the listed tests, and their values ranked as before. Tests 1 and 3 keep their values
    together in the file, unlike test 2, so the ranking takes its other path."""
    out = os.path.join(work, "selected")
    result = subprocess.run([tool, "export", "--tests", "1,3-6", data, out], capture_output=True, text=True)
    eq(result.returncode, 0, "export --tests exit status (%s)" % result.stderr.strip())
    rows = list(csv.reader(open(os.path.join(out, "values.csv"), encoding="utf-8-sig", newline="")))
    chosen = [v for v in values if v["test"] in (1, 3)]
    eq([(r[0], r[4], float(r[6])) for r in rows[1:]],
       [(str(v["test"]), v["name"], rank) for v, rank in zip(chosen, mean_ranks(chosen))], "ranks of tests 1 and 3")
    tests = list(csv.reader(open(os.path.join(out, "tests.csv"), encoding="utf-8-sig", newline="")))
    eq([r[0] for r in tests[1:]], ["1", "3"], "tests listed")


def main():
    tool, fixture = sys.argv[1], sys.argv[2]
    missing = []
    try:
        import openpyxl  # noqa: F401
    except ImportError:
        missing.append("python3-openpyxl")
    for command in ("readstat", "extract_metadata"):
        if shutil.which(command) is None:
            missing.append(command + " (Debian readstat)")
    if missing:
        print("SKIP: not installed: " + ", ".join(missing))
        return SKIP

    with tempfile.TemporaryDirectory() as work:
        root = os.path.join(work, "kvendar")
        shutil.copytree(fixture, root)
        data = os.path.join(root, "Data")
        tests = read_tests(os.path.join(data, "tests.dat"))
        values, answers = with_unrecorded(tests, read_values(os.path.join(data, "values.dat")),
                                          read_answers(os.path.join(data, "answers.dat")))
        ranks = mean_ranks(values)
        verify_csv(tool, data, work, tests, values, ranks, answers)
        verify_xlsx(tool, data, work, tests, values, ranks, answers)
        verify_sav(tool, data, work, tests, values, ranks, answers)
        if shutil.which("pspp") is not None:
            verify_sav_pspp(work, tests)
        else:
            print("pspp (Debian pspp) not installed: the SAV files were not read by PSPP")
        verify_selection(tool, data, work, values)
    for failure in failures:
        print("FAIL: " + failure)
    print("%d mismatches" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
