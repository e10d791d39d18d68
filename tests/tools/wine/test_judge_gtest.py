"""tools/wine/judge-gtest: a GoogleTest executable passes only on a complete, clean XML report.

First the judgement itself, with a stand-in command that writes a chosen report and exit code;
then real Windows executables under Wine that crash on purpose (a stack overflow inside a test, a
null write on a second thread, exit code 0 in the middle of a test) beside one that passes."""
import os
import subprocess
import sys
import textwrap
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(os.path.dirname(HERE)))
JUDGE = os.path.join(TOP, "tools", "wine", "judge-gtest")
RUN_TEST = os.path.join(TOP, "tools", "wine", "run-test")
BINARY = os.environ.get("TARVISKO_BINARY_DIR") or os.path.join(TOP, "build")

# Writes argv[1] (a report, or "-" for none) where GTEST_OUTPUT points and exits with argv[2].
STAND_IN = textwrap.dedent("""
    import os, sys
    target = os.environ["GTEST_OUTPUT"]
    assert target.startswith("xml:Z:\\\\"), target
    if sys.argv[1] != "-":
        with open(target[len("xml:Z:"):].replace("\\\\", "/"), "w") as out:
            out.write(sys.argv[1])
    sys.exit(int(sys.argv[2]))
""")


def report(tests=2, failures=0, errors=0, cases=None):
    cases = cases if cases is not None else (
        '<testcase name="a" classname="S" status="run"/>'
        '<testcase name="b" classname="S" status="run"/>')
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<testsuites tests="{tests}" '
            f'failures="{failures}" errors="{errors}" name="AllTests"><testsuite name="S" '
            f'tests="{tests}">{cases}</testsuite></testsuites>\n')


def judge(*command):
    return subprocess.run([JUDGE, "--", *command], capture_output=True, text=True, timeout=120)


class Judgement(unittest.TestCase):
    def test_only_a_complete_clean_report_with_exit_zero_passes(self):
        failing_case = ('<testcase name="a" classname="S" status="run"><failure message="x"/>'
                        '</testcase>')
        cases = [
            ("clean report", report(), 0, 0, None),
            ("clean report, exit 3", report(), 3, 3, "exit code 3"),
            ("no report, exit 0", "-", 0, 1, "no test report"),
            ("no report, exit 5", "-", 5, 5, "no test report"),
            ("cut short", report()[:80], 0, 1, "incomplete test report"),
            ("empty file", "", 0, 1, "incomplete test report"),
            ("failures counted", report(failures=1), 0, 1, "1 failure"),
            ("errors counted", report(errors=2), 0, 1, "2 failure"),
            ("failure element", report(cases=failing_case), 0, 1, "S.a"),
            ("no test ran", report(tests=0, cases=""), 0, 1, "ran no test"),
            ("another document", "<html/>", 0, 1, "unexpected test report"),
        ]
        for name, text, code, expected, reason in cases:
            with self.subTest(name):
                done = judge(sys.executable, "-c", STAND_IN, text, str(code))
                self.assertEqual(expected, done.returncode, done.stderr)
                if reason is None:
                    self.assertEqual("", done.stderr)
                else:
                    self.assertIn("judge-gtest: FAILED: ", done.stderr)
                    self.assertIn(reason, done.stderr)

    def test_each_run_gets_a_fresh_report_that_is_removed_afterwards(self):
        # Other tests write their reports into the same folder meanwhile: only the reports of
        # these two runs, named after the command they judged, are looked for.
        folder = os.path.join(BINARY, "test-results")
        prefix = os.path.basename(sys.executable) + "."

        def own_reports():
            names = os.listdir(folder) if os.path.isdir(folder) else []
            return {name for name in names if name.startswith(prefix)}

        before = own_reports()
        show = "import os; print(os.environ['GTEST_OUTPUT'])"
        first = judge(sys.executable, "-c", show)
        second = judge(sys.executable, "-c", show)
        self.assertNotEqual(first.stdout, second.stdout)
        for done in (first, second):
            self.assertIn(prefix, done.stdout)
        self.assertEqual(before, own_reports())


class UnderWine(unittest.TestCase):
    def run_exe(self, name):
        exe = os.path.join(BINARY, "tests", "tools", "wine", name + ".exe")
        self.assertTrue(os.path.exists(exe), exe + " is built with the tests")
        return judge(RUN_TEST, exe)

    def test_a_plain_executable_passes(self):
        done = self.run_exe("judge_passes")
        self.assertEqual(0, done.returncode, done.stdout + done.stderr)

    def test_crashing_executables_fail_whatever_their_exit_code(self):
        for name in ("judge_stack_overflow", "judge_thread_null_write", "judge_exit_zero"):
            with self.subTest(name):
                done = self.run_exe(name)
                self.assertNotEqual(0, done.returncode, done.stdout)
                self.assertIn("judge-gtest: FAILED: no test report", done.stderr)
                self.assertIn("[ RUN      ] Crash.", done.stdout)


if __name__ == "__main__":
    unittest.main()
