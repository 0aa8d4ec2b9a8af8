#!/usr/bin/python3
"""Record, make, replay: every recipe of examples/recipes and every dialogue
of the guide's "Common dialogues" runs against the device its marker names
with the spy on; a device is made from the log for each place it played
(nbrun --spy-to-device); the same script then runs against the made devices
and must print what it printed the first time. Prints each dialogue's
outcome and every difference; exit 1 on any.

usage: replay_test.py --top TOP --out OUT --wine-run WINE_RUN --scratch DIR
"""
import argparse
import concurrent.futures
import os
import shutil
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "docs"))  # the documents' block reader and runner
import doc_blocks  # noqa: E402
import run_doc_blocks  # noqa: E402
from run_doc_blocks import windows  # noqa: E402

GUIDE = "docs/guide.md"


def dialogues(top):
    """The run blocks to replay: the Common dialogues' and the recipes'."""
    with open(os.path.join(top, GUIDE), encoding="utf-8") as f:
        text = f.read()
    lines = text.split("\n")
    start = lines.index("## Common dialogues") + 1
    stop = next(i for i in range(start, len(lines)) if lines[i].startswith("## "))
    found, _ = doc_blocks.blocks(text, GUIDE)
    runs = [b for b in found if b.kind == "run"]
    common = [b for b in runs if start <= b.line <= stop]
    recipes = [b for b in runs if b.args and b.args[-1].startswith("examples/recipes/")]
    return common, recipes


def places(args):
    """The places the marker plays: [(index of the value in args, place)]."""
    return [(i + 1, args[i + 1].split("=", 1)[0]) for i, a in enumerate(args[:-1]) if a == "--device"]


def replay(runner, block):
    """What differs between the recorded run and the replay, or None."""
    name = run_doc_blocks.name_of(block)
    args = runner.arguments(block.args)
    if not (block.args and block.args[-1].endswith(".nbs")):
        args.append(windows(runner.write(name + ".nbs", block.text)))
    log = os.path.join(runner.scratch, name + "-record", "spy.log")
    code, recorded, err = runner.nbrun(name + "-record", ["--quiet", "--spy=spy.log"] + args)
    if code != 0:
        return "the recorded run ended with %s: %s" % (code, err.strip())
    played = list(args)
    for index, place in places(block.args):
        code, device, err = runner.nbrun(name + "-make", ["--spy-to-device", place + "=" + windows(log)])
        if code != 0:
            return "no device made for %s (exit %s): %s%s" % (place, code, err.strip(), device.strip())
        if "(made by nbrun --spy-to-device)" not in device.split("\n")[0]:
            return "the made device does not name its maker: " + device.split("\n")[0]
        made = runner.write("%s-%s.dev" % (name, place.replace(":", "-")), device)
        played[index] = place + "=" + windows(made)
    code, replayed, err = runner.nbrun(name + "-replay", ["--quiet"] + played)
    if code != 0 or replayed != recorded:
        return "recorded:\n%s\nreplayed (exit %s):\n%s%s" % (recorded, code, replayed, err.strip())
    return None


def main():
    parser = argparse.ArgumentParser()
    for option in ("--top", "--out", "--wine-run", "--scratch"):
        parser.add_argument(option, required=True)
    options = parser.parse_args()
    options.every_script_of = []
    runner = run_doc_blocks.Runner(options)
    shutil.rmtree(runner.scratch, ignore_errors=True)
    os.makedirs(runner.scratch)
    common, recipes = dialogues(runner.top)
    recipe_files = sorted(f for f in os.listdir(os.path.join(runner.top, "examples/recipes")) if f.endswith(".nbs"))
    failures = []
    shown = {os.path.basename(b.args[-1]) for b in recipes}
    failures += ["examples/recipes/%s: no block of the guide runs it" % f for f in recipe_files if f not in shown]
    if len(common) < 4:
        failures.append("the guide's Common dialogues show %d dialogues, not the 4 or more expected" % len(common))
    blocks = common + recipes
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        outcomes = list(pool.map(lambda b: replay(runner, b), blocks))
    for block, outcome in zip(blocks, outcomes):
        print("%s:%d: %s" % (block.source, block.line, "FAILED" if outcome else "replays as recorded"))
        if outcome:
            failures.append("%s:%d: %s" % (block.source, block.line, outcome))
    for failure in failures:
        print("FAILED " + failure)
    print("%d dialogues replayed, %d failures" % (len(blocks), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
