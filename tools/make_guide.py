#!/usr/bin/python3
"""Makes the author's guide one self-contained HTML page: styles inline, no
scripts, nothing loaded from elsewhere (its pictures, files beside the
guide, are carried in the page as data), a table of contents and an anchor
per section. An action's section takes the action's exact name as its id,
so that guide.html#wlCommRxLine opens it.

The Markdown is converted by Python-Markdown (Debian's python3-markdown);
this script only names the anchors and wraps the page.

usage: make_guide.py GUIDE.md OUT.html
"""
import base64
import os
import re
import sys

import markdown
from markdown.extensions.toc import slugify

STYLE = """
body { margin: 0; font: 15px/1.5 "Segoe UI", Tahoma, Arial, sans-serif; color: #1d2329; }
nav { padding: 1em 1.2em; background: #eef2f5; border-bottom: 1px solid #cfd8df; }
nav ul { list-style: none; margin: 0; padding-left: 1em; }
nav > div > ul { padding-left: 0; }
nav a { color: #1d4f7a; text-decoration: none; }
nav a:hover { text-decoration: underline; }
nav > div > ul > li { margin-top: .35em; font-weight: 600; }
nav li li { display: inline-block; margin-right: .9em; font-weight: normal;
           font-family: Consolas, "Courier New", monospace; font-size: 13px; }
main { max-width: 50em; padding: 1em 2em 4em; }
main img { max-width: 100%; border: 1px solid #cfd8df; }
h1 { font-size: 1.8em; margin-top: .2em; }
h2 { margin-top: 2em; padding-bottom: .2em; border-bottom: 2px solid #cfd8df; }
h3 { margin-top: 1.6em; font-family: Consolas, "Courier New", monospace; color: #1d4f7a; }
h3:target { background: #fff3c4; }
code, pre { font-family: Consolas, "Courier New", monospace; font-size: 13px; }
code { background: #f1f3f5; padding: 0 .2em; }
pre { background: #f6f8fa; border: 1px solid #dde3e8; padding: .6em .9em; overflow-x: auto; }
pre code { background: none; padding: 0; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #cfd8df; padding: .3em .6em; text-align: left; vertical-align: top; }
th { background: #eef2f5; }
@media (min-width: 60em) {
  body { display: flex; }
  nav li li { display: block; margin-right: 0; }
  nav { flex: 0 0 17em; position: sticky; top: 0; height: 100vh; overflow-y: auto;
        box-sizing: border-box; border-bottom: 0; border-right: 1px solid #cfd8df; }
}
"""

PAGE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{title}</title>
<style>{style}</style>
</head>
<body>
<nav>
<strong>Contents</strong>
{toc}
</nav>
<main>
{body}
</main>
</body>
</html>
"""


def anchor(text, separator):
    # Action names (wlCommRxLine, wbPlay, wcCheck) stay as they are: fragments are
    # case-sensitive and the name is what an author looks up.
    if re.fullmatch(r"(wl|wb|wc)[A-Za-z0-9]+", text):
        return text
    return slugify(text, separator)


def prepare(text):
    """The Markdown as the page is made from it."""
    # The markers beside the code blocks (<!-- run: ... -->, which the tests
    # read) are not the reader's: the page does not carry them.
    text = re.sub(r"^[ \t]*<!--.*?-->[ \t]*\n", "", text, flags=re.M)
    # An action's example stands on a line of its own in the Markdown; on
    # the page it is a paragraph of its own rather than the end of the last.
    return re.sub(r"\n(?=Example: )", "\n\n", text)


def converter():
    return markdown.Markdown(
        extensions=["tables", "toc"],
        extension_configs={"toc": {"slugify": anchor, "toc_depth": "2-3"}},
    )


def carry_pictures(body, folder):
    """Each <img src="NAME.png"> of a file beside the guide, as data."""
    def inline(match):
        with open(os.path.join(folder, match.group(1)), "rb") as f:
            return 'src="data:image/png;base64,%s"' % base64.b64encode(f.read()).decode("ascii")
    return re.sub(r'src="([\w.-]+\.png)"', inline, body)


def main(source, target):
    with open(source, encoding="utf-8") as f:
        text = f.read()
    converter_ = converter()
    body = carry_pictures(converter_.convert(prepare(text)), os.path.dirname(os.path.abspath(source)))
    heading = re.search(r"<h1[^>]*>(.*?)</h1>", body, re.S)
    title = re.sub(r"<[^>]+>", "", heading.group(1)) if heading else "Guide"
    page = PAGE.format(title=title, style=STYLE.strip(), toc=converter_.toc, body=body)
    with open(target, "w", encoding="utf-8", newline="\n") as f:
        f.write(page)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
