"""The code blocks of a Markdown file, each with the marker that says what
it is, so that every script the README and the guide show can be run.

A marker is an HTML comment on the line above a block (a blank line may
stand between them); the HTML page does not show it:

    <!-- run: ARGS -->       a script: nbrun ARGS runs it and must end with
                             exit 0. ARGS are nbrun's options and plug-ins as
                             on its command line, files named from the
                             tree's top (examples/scale.dev), plug-ins by
                             their file name (Wirelet.nbp). When the last of
                             ARGS is a script file, that file runs, and the
                             block must be the file or a part of it, line
                             for line.
    <!-- output -->          the lines the last script run above prints
                             (nbrun --quiet), exactly; a line "..." stands
                             for any number of lines.
    <!-- fragment: PLUG-INS -->  part of a script, or one that needs what
                             the text cannot give: loaded (nbrun --check), so
                             its statements, blocks and action names are
                             checked, not run.
    <!-- device -->          a device file: read by the device reader.
    <!-- text -->           not a script: a log, a listing, command lines
                             (words after "text:" may say which).

The inline examples of the guide's actions ("Example: `wlCommOpen ...`")
are fragments too: every one of a file is loaded with Wirelet,
Wirebench and Wirecodes.

Only what the Markdown converter makes into a code block counts: indented
by four blanks after a blank line (eight inside a list), or fenced.
"""
import re
from collections import namedtuple

Block = namedtuple("Block", "source line text kind args")
# kind: run, output, fragment, device, text; args: the words after the
# colon, split as a shell would not need to (no quotes in markers)

MARKER = re.compile(r"^\s*<!--\s*(run|output|fragment|device|text)\s*(?::\s*(.*?))?\s*-->\s*$")
ANY_COMMENT = re.compile(r"^\s*<!--.*-->\s*$")
LIST_ITEM = re.compile(r"^ {0,3}([-*+]|\d+\.)\s")
FENCE = re.compile(r"^ {0,3}(```|~~~)")
EXAMPLE = re.compile(r"^Example: `(.*)`\s*$")


def _indent(line):
    expanded = line.expandtabs(4)
    return len(expanded) - len(expanded.lstrip(" "))


def blocks(text, source):
    """The code blocks of `text` in order, and the mistakes found: a block
    without a marker, a marker without a block."""
    lines = text.split("\n")
    found, mistakes = [], []
    pending = None  # (marker match, its line number) waiting for its block
    in_list = False
    previous_blank = True
    i = 0

    def take(first, body, indent=0):
        nonlocal pending
        text = "\n".join(line.expandtabs(4)[indent:] for line in body)
        if pending is None:
            mistakes.append("%s:%d: a code block without a marker" % (source, first))
            kind, args = None, []
        else:
            kind = pending[0].group(1)
            args = (pending[0].group(2) or "").split()
            pending = None
        found.append(Block(source, first, text, kind, args))

    while i < len(lines):
        line = lines[i]
        blank = line.strip() == ""
        if FENCE.match(line):
            fence = FENCE.match(line).group(1)
            end = i + 1
            while end < len(lines) and not lines[end].lstrip().startswith(fence):
                end += 1
            take(i + 2, lines[i + 1:end])
            i, previous_blank = end + 1, False
            continue
        needed = 8 if in_list else 4
        if previous_blank and not blank and _indent(line) >= needed:
            end = i
            while end < len(lines) and (lines[end].strip() == "" or _indent(lines[end]) >= needed):
                end += 1
            while lines[end - 1].strip() == "":  # blank lines after a block are not part of it
                end -= 1
            take(i + 1, lines[i:end], needed)
            i, previous_blank = end, False
            continue
        marker = MARKER.match(line)
        if marker:
            if pending:
                mistakes.append("%s:%d: a marker without a code block" % (source, pending[1]))
            pending = (marker, i + 1)
        elif not blank and not ANY_COMMENT.match(line) and pending:
            mistakes.append("%s:%d: a marker without a code block" % (source, pending[1]))
            pending = None
        if LIST_ITEM.match(line):
            in_list = True
        elif not blank and previous_blank and _indent(line) < 4 and not ANY_COMMENT.match(line):
            in_list = False
        previous_blank = blank
        i += 1
    if pending:
        mistakes.append("%s:%d: a marker without a code block" % (source, pending[1]))
    return found, mistakes


def examples(text):
    """The inline examples of the guide's actions: (line, statement)."""
    return [(n + 1, m.group(1)) for n, line in enumerate(text.split("\n"))
            for m in [EXAMPLE.match(line)] if m]


def excerpt_of(block_text, file_text):
    """Whether the block's lines are the file's, or a run of them, each
    line the same but for the blanks at its start (the file may indent the
    part more deeply)."""
    part = [line.strip() for line in block_text.rstrip("\n").split("\n")]
    whole = [line.strip() for line in file_text.replace("\r\n", "\n").split("\n")]
    return any(whole[at:at + len(part)] == part for at in range(len(whole) - len(part) + 1))


def output_matches(shown, printed):
    """Whether the printed lines are those shown, a line "..." in what is
    shown standing for any number of printed lines."""
    shown = shown.rstrip("\n").split("\n")
    printed = printed.rstrip("\n").split("\n") if printed.strip("\n") else []

    def match(s, p):
        if s == len(shown):
            return p == len(printed)
        if shown[s].strip() == "...":
            return any(match(s + 1, q) for q in range(p, len(printed) + 1))
        return p < len(printed) and shown[s] == printed[p] and match(s + 1, p + 1)

    return match(0, 0)
