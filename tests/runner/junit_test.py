#!/usr/bin/python3
"""nbrun --results read back as a build server reads it, with a JUnit
reader (xml.etree): a dialogue against the played scale whose Expects pass,
pass in a loop and fail; runs that end otherwise (a mistake at run time,
--max-seconds, a script that does not load, a plug-in that crashes) with that end as an error.
Exit 1 on any failure.

usage: junit_test.py --top TOP --out OUT --wine-run WINE_RUN --scratch DIR
                     --faulty FAULTY.nbp
"""
import argparse
import os
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

DIALOGUE = r'''wlCommOpenStd "1,9600"
Expect "[wlOpenCommErr]" " 0"
wlCommSendCRLF "1,ID"
wlCommRxLine "1,identity,200"
Expect "[identity]" "WL-SCALE,1.0"
Loop "1" "2" "[i]"
  wlCommSendCRLF "1,W"
  wlCommRxLine "1,weight,200"
  Expect "[wlCommErr]" " 0"
EndLoop
wlCommSendCRLF "1,W"
wlCommRxLine "1,weight,200"
Expect "[weight]" "ST,GS,+0099.99 kg"
Print "never printed"
'''

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Nbrun:
    def __init__(self, options):
        self.options = options

    def run(self, name, script, *arguments, plugin=None):
        """Runs the script with --results; (exit code, output, the suite)."""
        folder = os.path.join(self.options.scratch, name)
        os.makedirs(folder)
        path = os.path.join(folder, name + ".nbs")
        with open(path, "w", newline="\r\n") as f:
            f.write(script)
        results = os.path.join(folder, "results.xml")
        command = [self.options.wine_run, windows(os.path.join(self.options.out, "nbrun.exe")),
                   "--results", windows(results)] + list(arguments) + [
                   plugin or windows(os.path.join(self.options.out, "Wirelet.nbp")), windows(path)]
        done = subprocess.run(command, cwd=folder, capture_output=True, timeout=60)
        output = (done.stdout + done.stderr).decode("latin-1")
        suites = ElementTree.parse(results).getroot()
        check(suites.tag == "testsuites", name + ": the root is " + suites.tag)
        suite = suites.find("testsuite")
        for count in ("tests", "failures", "errors", "skipped"):
            check(suites.get(count) == suite.get(count), name + ": testsuites and testsuite count " + count)
        return done.returncode, output, suite


def cases(suite):
    return [(c.get("name"), c.get("classname"), c.find("failure"), c.find("error"), float(c.get("time")))
            for c in suite.findall("testcase")]


def counts(suite):
    return tuple(int(suite.get(k)) for k in ("tests", "failures", "errors", "skipped"))


def main():
    parser = argparse.ArgumentParser()
    for option in ("--top", "--out", "--wine-run", "--scratch", "--faulty"):
        parser.add_argument(option, required=True)
    options = parser.parse_args()
    shutil.rmtree(options.scratch, ignore_errors=True)
    nbrun = Nbrun(options)
    scale = "COM1=" + windows(os.path.join(options.top, "examples", "scale.dev"))

    # One case per Expect carried out, in order, named by line and pass.
    code, output, suite = nbrun.run("dialogue", DIALOGUE, "--quiet", "--device", scale)
    check(code == 1, "dialogue: exit %s\n%s" % (code, output))
    check(suite.get("name") == "dialogue.nbs", "dialogue: the suite is " + str(suite.get("name")))
    check(counts(suite) == (5, 1, 0, 0), "dialogue: counts %s" % (counts(suite),))
    found = cases(suite)
    check([c[0] for c in found] == ["dialogue.nbs:2", "dialogue.nbs:5", "dialogue.nbs:9 pass 1",
                                    "dialogue.nbs:9 pass 2", "dialogue.nbs:13"],
          "dialogue: cases %s" % [c[0] for c in found])
    check(all(c[1] == "dialogue" for c in found), "dialogue: class names %s" % [c[1] for c in found])
    check([c[2] is not None for c in found] == [False] * 4 + [True], "dialogue: which failed")
    failure = found[-1][2]
    check(failure is not None and failure.get("message") ==
          'expected [weight] to read "ST,GS,+0099.99 kg", it reads "ST,GS,+0012.34 kg"',
          "dialogue: the failure says %s" % (failure is not None and failure.get("message")))
    passed = suite.find("testcase").find("system-out")
    check(passed is not None and passed.text == 'expected [wlOpenCommErr] to read " 0": it does',
          "dialogue: a passed case says %s" % (passed is not None and passed.text))
    total = float(suite.get("time"))
    check(0 < sum(c[4] for c in found) <= total + 0.001, "dialogue: the cases' times exceed the suite's")
    check("never printed" not in output, "dialogue: ran past its failed Expect")

    # Runs that end otherwise: their end is an error of its own, after the
    # Expects that ran.
    for name, script, arguments, kind, message in [
            ("mistake", 'Expect "a" "a"\nMath "1/[zero]" "0" "[x]"\n', [], "mistake",
             "mistake.nbs:2: Math: cannot read"),
            ("endless", 'Expect "a" "a"\nWhile "1" "=" "1"\n  Pause "50"\nEndWhile\n', ["--max-seconds", "1"],
             "max-seconds", "stopped: the run took longer than --max-seconds 1"),
            ("unloaded", 'Expect "a" "a"\nEndIf\n', [], "mistake", "unloaded.nbs:2: EndIf without If")]:
        code, output, suite = nbrun.run(name, script, *arguments)
        expected_code = 3 if kind == "max-seconds" else 2
        check(code == expected_code, "%s: exit %s\n%s" % (name, code, output))
        found = cases(suite)
        ran = 0 if name == "unloaded" else 1
        check(counts(suite) == (ran + 1, 0, 1, 0), "%s: counts %s" % (name, counts(suite)))
        error = found[-1][3]
        check(found[-1][0] == "the run's end" and error is not None and error.get("type") == kind and
              message in error.get("message"),
              "%s: its end is %s" % (name, ElementTree.tostring(suite).decode()))

    # A crash ends the process from the crash report: the Expects before it
    # are there, and the crash as the run's end.
    code, output, suite = nbrun.run("crashed", 'Expect "a" "a"\ncrash ""\n', plugin=windows(options.faulty))
    found = cases(suite)
    check(code == 5 and counts(suite) == (2, 0, 1, 0), "crashed: exit %s, counts %s\n%s"
          % (code, counts(suite), output))
    error = found[-1][3]
    check(error is not None and error.get("type") == "runner-failed" and
          "the runner failed while " in error.get("message") and "crashed.nbs:2 ran: " in error.get("message"),
          "crashed: its end is %s" % ElementTree.tostring(suite).decode())

    # A warning shows with the suite, as the run printed it.
    code, output, suite = nbrun.run("warned", 'wlCommRxCount "0,n"\n')
    check(code == 0, "warned: exit %s\n%s" % (code, output))
    err = suite.find("system-err")
    check(err is not None and "warned.nbs:1: port 0 is outside" in err.text, "warned: system-err %s"
          % (err is not None and err.text))

    # --check carries nothing out: no case, its warnings, and not the
    # error of a run that has not ended.
    code, output, suite = nbrun.run("checked", 'wlCommRxCount "0,n"\n', "--check")
    check(code == 0 and counts(suite) == (0, 0, 0, 0), "checked: exit %s, counts %s\n%s"
          % (code, counts(suite), output))
    err = suite.find("system-err")
    check(err is not None and "checked.nbs:1: port 0 is outside" in err.text, "checked: system-err")

    for failure in failures:
        print("FAILED " + failure)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
