#!/usr/bin/python3
"""The extractor of the documents' code blocks (doc_blocks.py): markers and
what they say, blocks the Markdown converter takes as code and lines it
does not, the mistakes it reports, excerpts and printed lines compared.
Then, on the README and the guide themselves: the blocks it finds are
exactly the code blocks the converter makes of them, and every one has its
marker.

usage: doc_blocks_test.py TOP   (the tree's top, for the README and the guide)
"""
import html
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import doc_blocks  # noqa: E402

TOP = None


class Markers(unittest.TestCase):
    def test_each_kind_with_its_arguments_and_the_block_under_it(self):
        text = "\n".join([
            "A dialogue:",
            "",
            "<!-- run: --device COM1=examples/scale.dev Wirelet.nbp -->",
            "",
            "    wlCommOpenStd \"1,9600\"",
            "      Print \"indented\"",
            "",
            "    Print \"after a blank line\"",
            "",
            "It prints:",
            "<!-- output -->",
            "",
            "    ...",
            "",
            "<!--text: a log-->",
            "```",
            "    kept as written",
            "```",
            "<!-- fragment: Wirelet.nbp Wirebench.nbp -->",
            "",
            "\twbPlay \"COM1,\"",
        ])
        found, mistakes = doc_blocks.blocks(text, "t.md")
        self.assertEqual(mistakes, [])
        self.assertEqual([(b.line, b.kind, b.args) for b in found], [
            (5, "run", ["--device", "COM1=examples/scale.dev", "Wirelet.nbp"]),
            (13, "output", []),
            (17, "text", ["a", "log"]),
            (21, "fragment", ["Wirelet.nbp", "Wirebench.nbp"]),
        ])
        self.assertEqual(found[0].text, "wlCommOpenStd \"1,9600\"\n  Print \"indented\"\n\nPrint \"after a blank line\"")
        self.assertEqual(found[2].text, "    kept as written")
        self.assertEqual(found[3].text, "wbPlay \"COM1,\"")

    def test_what_is_not_code_and_what_is_missing(self):
        text = "\n".join([
            "- a list item",
            "",
            "    a paragraph of the item, not code",
            "- another",
            "",
            "        code inside the item",
            "",
            "A paragraph",
            "    continued, not code",
            "",
            "<!-- device -->",
            "Text where the block should be.",
            "",
            "    on \"W\" send \"1\"",
            "",
            "<!-- text -->",
        ])
        found, mistakes = doc_blocks.blocks(text, "t.md")
        self.assertEqual([(b.line, b.kind, b.text) for b in found], [
            (6, None, "code inside the item"),
            (14, None, "on \"W\" send \"1\""),
        ])
        self.assertEqual(mistakes, [
            "t.md:6: a code block without a marker",
            "t.md:11: a marker without a code block",
            "t.md:14: a code block without a marker",
            "t.md:16: a marker without a code block",
        ])

    def test_inline_examples_of_the_actions(self):
        text = "### wlCommOpen\nFields (7): ...\nExample: `wlCommOpen \"1,9600,8,0,0,4096,4096\"`\n" \
               "An Example: `not this`\nExample: `wlTCPclose \"\"`"
        self.assertEqual(doc_blocks.examples(text),
                         [(3, "wlCommOpen \"1,9600,8,0,0,4096,4096\""), (5, "wlTCPclose \"\"")])


class Comparisons(unittest.TestCase):
    def test_an_excerpt_is_a_run_of_the_files_lines_at_any_depth(self):
        whole = "# top\r\nLoop \"1\" \"4\" \"[r]\"\r\n  If \"a\" \"=\" \"b\"\r\n    ExitLoop\r\n  EndIf\r\nEndLoop\r\n"
        self.assertTrue(doc_blocks.excerpt_of("If \"a\" \"=\" \"b\"\n  ExitLoop\nEndIf\n", whole))
        self.assertTrue(doc_blocks.excerpt_of(whole.replace("\r\n", "\n"), whole))
        self.assertFalse(doc_blocks.excerpt_of("If \"a\" \"=\" \"b\"\nEndIf", whole))  # a line left out
        self.assertFalse(doc_blocks.excerpt_of("EndLoop\n# top", whole))

    def test_printed_lines_are_those_shown_and_dots_stand_for_any(self):
        printed = "Scale: 12.34 kg\nreading 2\nreading 3\naverage\n"
        self.assertTrue(doc_blocks.output_matches("Scale: 12.34 kg\nreading 2\nreading 3\naverage", printed))
        self.assertTrue(doc_blocks.output_matches("...\nreading 3\naverage", printed))
        self.assertTrue(doc_blocks.output_matches("Scale: 12.34 kg\n...\naverage", printed))
        self.assertTrue(doc_blocks.output_matches("...", ""))
        self.assertFalse(doc_blocks.output_matches("Scale: 12.34 kg", printed))  # lines left out
        self.assertFalse(doc_blocks.output_matches("...\nreading 3", printed))  # the last is not
        self.assertFalse(doc_blocks.output_matches("Scale: 12.35 kg\n...", printed))
        self.assertFalse(doc_blocks.output_matches("x", ""))


class TheDocuments(unittest.TestCase):
    """The README and the guide: the blocks found are the code blocks the
    page shows (made as tools/make_guide.py makes guide.html, markers
    dropped), each marked, and no marker is left on the page."""

    def check(self, relative):
        sys.path.insert(0, os.path.join(TOP, "tools"))
        import make_guide
        with open(os.path.join(TOP, relative), encoding="utf-8") as f:
            text = f.read()
        found, mistakes = doc_blocks.blocks(text, relative)
        page = make_guide.converter().convert(make_guide.prepare(text))
        self.assertNotIn("<!--", page)
        shown = [html.unescape(code).rstrip("\n")
                 for code in re.findall(r"<pre><code>(.*?)</code></pre>", page, re.S)]
        self.assertEqual([b.text.rstrip("\n") for b in found], shown)
        self.assertGreater(len(found), 5)
        self.assertEqual(mistakes, [])

    def test_the_readme(self):
        self.check("README.md")

    def test_the_guide(self):
        self.check(os.path.join("docs", "guide.md"))


if __name__ == "__main__":
    TOP = sys.argv.pop(1)
    unittest.main()
