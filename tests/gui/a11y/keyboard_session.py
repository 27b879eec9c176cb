#!/usr/bin/env python3
"""One whole test taken with the keyboard alone, through the real executable on a virtual display.

Usage: keyboard_session.py BIN_DIR

The program has no command-line options and keeps its data beside the executable, so it runs from
a copy of BIN_DIR in a temporary folder. Without a window manager nothing hands out the keyboard
focus, so one click puts it into the main window; every step after that is a key press. At the end
the record written to Data/tests.dat (and its values) is read back byte by byte.

Exit status 77 (skipped) when Xvfb or xdotool is missing, saying which.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77
TEST_RECORD = 681
VALUE_RECORD = 94


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


class Session:
    def __init__(self, env, shots):
        self.env = env
        self.shots = shots

    def xdotool(self, *args, check=True):
        result = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True, timeout=30)
        if check and result.returncode != 0:
            fail("xdotool %s: %s" % (" ".join(args), result.stderr.strip()))
        return result.stdout.strip()

    def focused_title(self):
        window = self.xdotool("getwindowfocus", check=False)
        if not window.isdigit():
            return ""
        # The focus may rest on a child window of the top-level one; climb to the one with a name.
        for _ in range(5):
            name = self.xdotool("getwindowname", window, check=False)
            if name:
                return name
            tree = subprocess.run(["xwininfo", "-children", "-id", window], env=self.env, capture_output=True,
                                  text=True, timeout=10).stdout if shutil.which("xwininfo") else ""
            parent = [line.split()[3] for line in tree.splitlines() if line.strip().startswith("Parent window id:")]
            if not parent or not parent[0].startswith("0x"):
                break
            window = str(int(parent[0], 16))
        return ""

    def wait_for_focus(self, title, step):
        deadline = time.monotonic() + 20
        seen = ""
        while time.monotonic() < deadline:
            seen = self.focused_title()
            if seen.startswith(title):
                time.sleep(0.3)  # let the window finish taking the focus before keys arrive
                return
            time.sleep(0.2)
        self.shot(step)
        fail("%s: the keyboard focus is on \"%s\", not on \"%s\"" % (step, seen, title))

    def keys(self, *names):
        for name in names:
            self.xdotool("key", "--clearmodifiers", name)
            time.sleep(0.25)

    def type(self, text):
        self.xdotool("type", "--delay", "80", text)
        time.sleep(0.3)

    def shot(self, step):
        if shutil.which("import"):
            path = os.path.join(self.shots, step.replace(" ", "_") + ".png")
            subprocess.run(["import", "-window", "root", path], env=self.env, capture_output=True, timeout=30)
            print("screen at failure: " + path, file=sys.stderr)


def short_string(record, offset):
    length = record[offset]
    return record[offset + 1:offset + 1 + length].decode("cp1251")


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    missing = [tool for tool in ("Xvfb", "xdotool") if shutil.which(tool) is None]
    if missing:
        print("SKIP: %s not installed (./kvendar.sh installs them); the keyboard session needs a virtual "
              "display and a way to type into it." % " and ".join(missing))
        return SKIP

    work = tempfile.mkdtemp(prefix="kvendar-keyboard-")
    app_dir = os.path.join(work, "bin")
    shutil.copytree(sys.argv[1], app_dir)
    home = os.path.join(work, "home")
    runtime = os.path.join(work, "runtime")
    os.makedirs(home)
    os.makedirs(runtime, mode=0o700)

    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    with os.fdopen(read_fd) as pipe:
        display = pipe.readline().strip()
    if not display:
        xvfb.kill()
        fail("Xvfb did not start")

    env = {key: value for key, value in os.environ.items() if key not in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env.update({"DISPLAY": ":" + display, "QT_QPA_PLATFORM": "xcb", "HOME": home,
                "XDG_CONFIG_HOME": os.path.join(home, ".config"), "XDG_DATA_HOME": os.path.join(home, ".local/share"),
                "XDG_RUNTIME_DIR": runtime, "LC_ALL": "C.UTF-8"})
    session = Session(env, work)
    program = None
    try:
        program = subprocess.Popen([os.path.join(app_dir, "kvendar32")], cwd=work, env=env,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        main_window = session.xdotool("search", "--sync", "--onlyvisible", "--name", "^Квендар").split()[0]
        time.sleep(1)
        # The one click: on the label above the catalogue, which takes no focus of its own.
        session.xdotool("mousemove", "--window", main_window, "30", "40", "click", "1")
        session.wait_for_focus("Квендар", "main window")

        # Three values of the first group, which is open: Down to each, Enter to choose it.
        session.keys("Down", "Down", "Return", "Down", "Return", "Down", "Return")
        # "Тестирование" -> "Начать тестирование" through the menu bar, reached with Alt.
        session.keys("alt", "Right", "Down", "Return")
        session.wait_for_focus("Попарное сравнение 1 из 3", "comparison")
        for question in (2, 3):
            session.keys("Return")
            session.wait_for_focus("Попарное сравнение %d из 3" % question, "question %d" % question)
        session.keys("Return")

        session.wait_for_focus("Результаты тестирования", "results")
        # The window opens in its first question.
        session.type("Petrov Ivan")
        session.keys("Tab")
        session.type("4x2")
        session.keys("Tab", "Down")  # "Пол:" -> "Мужской"
        # Over the other questions and the note to "Сохранить".
        session.keys(*["Tab"] * 9)
        session.keys("space")
        time.sleep(1)
        session.keys("Escape")  # saved: closes without a question

        session.wait_for_focus("Квендар", "back in the main window")
        # "Тестирование" -> "Результаты тестирования" (past the separator).
        session.keys("alt", "Right", "Down", "Down", "Return")
        session.wait_for_focus("Результаты тестов", "history")
        session.keys("Return")
        session.wait_for_focus("Интерпретация результатов теста. Тестируемый: Petrov Ivan", "detailed result")
        session.keys("Escape")
        session.wait_for_focus("Результаты тестов", "back in the history")
        session.keys("Escape")
        session.wait_for_focus("Квендар", "main window at the end")
        # "Файл": its last item is "Выход".
        session.keys("alt", "Down", "Up", "Return")
        try:
            program.wait(timeout=20)
        except subprocess.TimeoutExpired:
            session.shot("exit")
            fail("the program did not end after \"Выход\"")
        output = program.stdout.read().decode("utf-8", "replace")
        if program.returncode != 0:
            fail("the program ended with %d: %s" % (program.returncode, output))
    finally:
        if program is not None and program.poll() is None:
            program.kill()
            program.wait()
        xvfb.kill()
        xvfb.wait()

    data = os.path.join(app_dir, "Data")
    with open(os.path.join(data, "tests.dat"), "rb") as f:
        tests = f.read()
    if len(tests) != TEST_RECORD:
        fail("tests.dat holds %d bytes, not one record of %d" % (len(tests), TEST_RECORD))
    test_id, = struct.unpack_from("<I", tests, 0)
    age, = struct.unpack_from("<i", tests, 93)
    scores = struct.unpack_from("<4i", tests, 665)
    checks = [
        ("Id", test_id, 1),
        ("Fio", short_string(tests, 4), "Petrov Ivan"),
        ("Age", age, 42),
        ("Sex", tests[97], 1),
        ("Social", short_string(tests, 98), "Нет ответа"),
        ("group points", sum(scores), 3),
    ]
    with open(os.path.join(data, "values.dat"), "rb") as f:
        values = f.read()
    # Enter always took the upper value, so the three values won 2, 1 and 0 times, and a value
    # without a win is not part of the result.
    checks.append(("values.dat size", len(values), 2 * VALUE_RECORD))
    wins = []
    for i in range(len(values) // VALUE_RECORD):
        record = values[i * VALUE_RECORD:(i + 1) * VALUE_RECORD]
        checks.append(("value %d TestId" % (i + 1), struct.unpack_from("<i", record, 4)[0], 1))
        wins.append(struct.unpack_from("<i", record, 9)[0])
    checks.append(("value wins", sorted(wins), [1, 2]))
    bad = ["%s is %r, expected %r" % (name, got, want) for name, got, want in checks if got != want]
    if bad:
        fail("; ".join(bad))
    shutil.rmtree(work, ignore_errors=True)
    print("PASS: a whole test by keyboard alone; record %d saved as typed" % test_id)
    return 0


if __name__ == "__main__":
    sys.exit(main())
