#!/usr/bin/env python3
"""Writes the small export fixture: the three files of Data/ and a catalogue beside them.

The records are laid out here by hand, field by field, so that the export tests compare the
program's output with a reading that shares no code with it. Run it again after changing a case;
the files it writes are kept in the repository.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def short(text):
    data = text.encode("cp1251")
    assert len(data) <= 80
    return bytes([len(data)]) + data + bytes(80 - len(data))


def day_number(y, mo, d, h=0, mi=0, s=0, ms=0):
    import datetime
    days = (datetime.date(y, mo, d) - datetime.date(1899, 12, 30)).days
    return days + (((h * 60 + mi) * 60 + s) * 1000 + ms) / 86400000.0


# Id, Fio, Date, Age, Sex, Social, Children, PlaceOfLiving, Education, SocialStatus, Bussines,
# MaterialLevel, TypeScore1..4
TESTS = [
    (1, 'Иванов, Иван "Ваня"\r\nИванович', day_number(2026, 3, 15, 14, 30, 5, 250), 35, 1,
     "Женат / замужем", "Два ребенка", "Областной, краевой центр", "Высшее",
     "Учащийся, студент, аспирант", "Образование", "Средний", 3, 3, 0, 0),
    (2, "Петрова\nАнна", day_number(2025, 12, 31, 23, 59, 59, 999), 0, 2,
     "Нет ответа", "Нет ответа", "Москва", "Своё: заочное", "Безработный", "Другое", "Высокий", 0, 1, 2, 0),
    (3, "", day_number(1900, 1, 9, 12), 120, 0,
     "Нет ответа", "Нет ответа", "Нет ответа", "Нет ответа", "Другое ", "Нет ответа", "Нет ответа", 0, 0, 0, 1),
    (7, "Ёжиков ;-) 'Ёж'", math.nan, 44, 9,
     "Холост", "Другое", "Поселок, село", "Академическое", "Пенсионер", "СМИ", "Низкий", 0, 0, 3, 0),
]

# Id, TestId, TypeNumber, Score, Name. Test 2's last value comes after test 3's on purpose: its
# rank must still count it among test 2's values.
VALUES = [
    (1, 1, 1, 3, 'Свобода, "воля"'),
    (2, 1, 2, 1, "Деньги"),
    (3, 1, 2, 1, "Дом\nи сад"),
    (4, 1, 1, 1, "Честь"),
    (5, 2, 3, 2, "Любовь"),
    (6, 3, 4, 1, "Здоровье"),
    (7, 2, 2, 1, "Дом"),
    (8, 7, 3, 2, "Дружба"),
    (9, 7, 1, 1, "Долг"),
]

# Id, TestId, Question, UpperGroup, Upper, LowerGroup, Lower, Chosen, ResponseMs. Test 7 compared
# three values; the third won nothing, so only the answers name it. The last answer belongs to no
# test.
QUIET = 'Покой, "тишина"'
ANSWERS = [
    (1, 7, 1, 3, "Дружба", 1, "Долг", 1, 1520),
    (2, 7, 2, 1, "Долг", 4, QUIET, 1, 830),
    (3, 7, 3, 4, QUIET, 3, "Дружба", 2, 4294967295),
    (4, 9, 1, 1, "Никто", 2, "Ничто", 2, 100),
]

GROUPS = ["Идеологические ценности", "Материальные, вещные ценности", "Эмоциональные ценности",
          "Витальные ценности"]


def main():
    with open(os.path.join(HERE, "Data", "tests.dat"), "wb") as f:
        for t in TESTS:
            rec = struct.pack("<I", t[0]) + short(t[1]) + struct.pack("<d", t[2]) + struct.pack("<i", t[3])
            rec += bytes([t[4]]) + b"".join(short(x) for x in t[5:12]) + struct.pack("<4i", *t[12:16])
            assert len(rec) == 681
            f.write(rec)
    with open(os.path.join(HERE, "Data", "values.dat"), "wb") as f:
        for v in VALUES:
            rec = struct.pack("<iiBi", v[0], v[1], v[2], v[3]) + short(v[4])
            assert len(rec) == 94
            f.write(rec)
    with open(os.path.join(HERE, "Data", "answers.dat"), "wb") as f:
        for a in ANSWERS:
            rec = struct.pack("<IIIB", *a[0:4]) + short(a[4]) + bytes([a[5]]) + short(a[6])
            rec += bytes([a[7]]) + struct.pack("<I", a[8])
            assert len(rec) == 181
            f.write(rec)
    ini = ["[MAIN]", "Lines=lines.txt", "", "[ValueTypes]"]
    for n, name in enumerate(GROUPS, 1):
        ini += ["ValueTypeName%d=%s" % (n, name), "ValueTypeItems%d=items%d.txt" % (n, n)]
        with open(os.path.join(HERE, "items%d.txt" % n), "wb") as f:
            f.write("Ценность".encode("cp1251"))
    with open(os.path.join(HERE, "config.ini"), "wb") as f:
        f.write("\r\n".join(ini).encode("cp1251") + b"\r\n")
    with open(os.path.join(HERE, "lines.txt"), "wb") as f:
        f.write("Инструкция".encode("cp1251"))


if __name__ == "__main__":
    main()
