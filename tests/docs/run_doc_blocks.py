#!/usr/bin/python3
"""Runs every script block of the Markdown files given, as its marker says
(doc_blocks.py), with nbrun.exe under Wine against the devices and servers
the marker names, and checks that a block shown as its output is what it
printed. Fragments and inline examples are loaded (nbrun --check), device
files read. Every script in each folder given with --every-script-of must
be run by one of the blocks (the recipes). Prints each block's outcome,
and every failure with its file and line; exit 1 on any failure.

usage: run_doc_blocks.py --top TOP --out OUT --wine-run WINE_RUN --scratch DIR
                         [--every-script-of FOLDER] FILE.md...
"""
import argparse
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import doc_blocks  # noqa: E402

# Long enough for the slowest script shown (a deadline of a few seconds)
# on a loaded machine; a run that takes longer is a failure, not a wait.
RUN_LIMIT_SECONDS = 60
# Plug-ins the inline examples of the actions are loaded with.
EXAMPLE_PLUGINS = ["Wirelet.nbp", "Wirebench.nbp", "Wirecodes.nbp"]


def windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Runner:
    def __init__(self, options):
        self.top = os.path.abspath(options.top)
        self.out = os.path.abspath(options.out)
        self.wine_run = os.path.abspath(options.wine_run)
        self.scratch = os.path.abspath(options.scratch)

    def arguments(self, args):
        """nbrun's arguments with the files the marker names from the
        tree's top, and the plug-ins from the build's output folder, as
        Windows paths. False with why, for a server not on loopback."""
        converted = []
        for arg in args:
            if arg.endswith(".nbp") and os.sep not in arg and "/" not in arg:
                converted.append(windows(os.path.join(self.out, arg)))
            elif "=" in arg and not arg.startswith("-"):
                place, value = arg.split("=", 1)
                if ":" in place and not place.startswith("127."):
                    raise ValueError("a played server must be on loopback (127.x): " + place)
                path = os.path.join(self.top, value)
                converted.append(place + "=" + (windows(path) if os.path.exists(path) else value))
            elif not arg.startswith("-") and os.path.exists(os.path.join(self.top, arg)):
                converted.append(windows(os.path.join(self.top, arg)))
            else:
                converted.append(arg)
        return converted

    def nbrun(self, name, arguments):
        """Runs nbrun.exe in a folder of its own: (exit code, stdout, stderr)."""
        folder = os.path.join(self.scratch, name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        command = [self.wine_run, windows(os.path.join(self.out, "nbrun.exe"))] + arguments
        try:
            done = subprocess.run(command, cwd=folder, capture_output=True, timeout=RUN_LIMIT_SECONDS)
        except subprocess.TimeoutExpired:
            return None, "", "did not end within %d s" % RUN_LIMIT_SECONDS
        text = lambda b: b.decode("latin-1").replace("\r\n", "\n")
        return done.returncode, text(done.stdout), text(done.stderr)

    def write(self, name, text):
        path = os.path.join(self.scratch, name)
        with open(path, "w", encoding="latin-1", newline="\r\n") as f:
            f.write(text + "\n")
        return path


def name_of(block):
    return "%s-%d" % (os.path.basename(block.source).replace(".", "-"), block.line)


def loopback_only(text):
    """Why the script would reach beyond loopback, or None: every literal
    host wlTCPopen is given must be 127.x (a variable's value comes from
    the marker, checked there)."""
    for host in re.findall(r'wlTCPopen\s+"([^,"]*)', text, re.I):
        if "[" not in host and not host.strip().startswith("127."):
            return "wlTCPopen to %s: scripts in the documents reach loopback only" % host
    return None


def check_block(runner, block):
    """What is wrong with one block (a list of texts), and, for a script,
    what it printed."""
    where = "%s:%d" % (block.source, block.line)
    name = name_of(block)
    if block.kind in ("text", "output"):
        return [], None
    try:
        args = runner.arguments(block.args)
    except ValueError as e:
        return ["%s: %s" % (where, e)], None
    if block.kind == "device":
        path = runner.write(name + ".dev", block.text)
        code, out, err = runner.nbrun(name, ["--check", "--device", "COM1=" + windows(path),
                                             windows(os.path.join(runner.out, "Wirelet.nbp"))])
        return ([] if code == 0 else ["%s: the device reader refuses it: %s" % (where, err.strip())]), None
    if block.kind == "fragment":
        path = runner.write(name + ".nbs", block.text)
        code, out, err = runner.nbrun(name, ["--check"] + args + [windows(path)])
        return ([] if code == 0 else ["%s: %s" % (where, err.strip() or out.strip())]), None
    # run
    problems = []
    script = block.args[-1] if block.args and block.args[-1].endswith(".nbs") else None
    if script:
        with open(os.path.join(runner.top, script), encoding="latin-1") as f:
            whole = f.read()
        if not doc_blocks.excerpt_of(block.text, whole):
            problems.append("%s: the block is not %s, nor a part of it" % (where, script))
        text = whole
    else:
        text = block.text
        args.append(windows(runner.write(name + ".nbs", block.text)))
    why = loopback_only(text)
    if why:
        return problems + ["%s: %s" % (where, why)], None
    code, out, err = runner.nbrun(name, ["--quiet"] + args)
    if code != 0:
        problems.append("%s: nbrun ended with %s: %s%s" % (where, code, err.strip(), "\n" + out if out else ""))
    return problems, out


def check_examples(runner, source, text):
    examples = doc_blocks.examples(text)
    if not examples:
        return []
    name = os.path.basename(source).replace(".", "-") + "-examples"
    path = runner.write(name + ".nbs", "\n".join(statement for _, statement in examples))
    code, out, err = runner.nbrun(name, ["--check"] + runner.arguments(EXAMPLE_PLUGINS) + [windows(path)])
    if code == 0:
        return []
    found = re.search(r":(\d+): (.*)", err)
    if not found:
        return ["%s: the examples do not load: %s" % (source, err.strip())]
    line, _ = examples[int(found.group(1)) - 1]
    return ["%s:%d: the example does not load: %s" % (source, line, found.group(2))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--top", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--every-script-of", action="append", default=[])
    parser.add_argument("files", nargs="+")
    options = parser.parse_args()
    runner = Runner(options)
    shutil.rmtree(runner.scratch, ignore_errors=True)  # no file of an earlier run may count
    os.makedirs(runner.scratch)

    failures, all_blocks, texts = [], [], {}
    for path in options.files:
        with open(path, encoding="utf-8") as f:
            texts[path] = f.read()
        found, mistakes = doc_blocks.blocks(texts[path], path)
        failures += mistakes
        all_blocks += found

    # Every script of the folders named is run by a block.
    ran = {b.args[-1] for b in all_blocks if b.kind == "run" and b.args and b.args[-1].endswith(".nbs")}
    for folder in options.every_script_of:
        for script in sorted(os.listdir(os.path.join(runner.top, folder))):
            if script.endswith(".nbs") and os.path.join(folder, script) not in ran:
                failures.append("%s/%s: no block of %s runs it" % (folder, script, ", ".join(options.files)))

    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        checked = list(pool.map(lambda b: check_block(runner, b), all_blocks))
        for path, text in texts.items():
            failures += check_examples(runner, path, text)

    last_run = None
    for block, (problems, printed) in zip(all_blocks, checked):
        failures += problems
        if block.kind == "run":
            last_run = (block, printed)
        if block.kind == "output":
            if last_run is None or last_run[0].source != block.source:
                failures.append("%s:%d: an output block with no script run above it" % (block.source, block.line))
            elif last_run[1] is not None and not doc_blocks.output_matches(block.text, last_run[1]):
                failures.append("%s:%d: the script at line %d printed\n%s\nnot what the block shows"
                                % (block.source, block.line, last_run[0].line, last_run[1]))
        print("%s:%d: %s %s" % (block.source, block.line, block.kind or "unmarked",
                               "FAILED" if problems else "ok"))
    for failure in failures:
        print("FAILED " + failure)
    kinds = {}
    for block in all_blocks:
        kinds[block.kind] = kinds.get(block.kind, 0) + 1
    print("%d blocks (%s), %d failures" % (len(all_blocks), ", ".join(
        "%d %s" % (n, k) for k, n in sorted(kinds.items(), key=lambda kv: str(kv[0]))), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
