#!/usr/bin/env python3
"""The README and the guides in docs/ stay true: every relative link and every
#anchor resolves (GitHub's heading slugs), every project script a shell block
names exists, and every vorlen-publish option a shell block uses is one the
tool's --help (or its subcommand's) lists.

    VORLEN_PUBLISH_TOOL=path/to/vorlen-publish docs_test.py [Class ...]

VORLEN_SOURCE_DIR names the source tree when it is not this file's."""
import glob
import os
import re
import shlex
import subprocess
import unittest

SOURCE = os.environ.get("VORLEN_SOURCE_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
TOOL = os.environ.get("VORLEN_PUBLISH_TOOL", "")
FENCE = re.compile(r"^```([a-z]*)\n(.*?)^```", re.S | re.M)
PROJECT_PATH = re.compile(r"(?:scripts|server|tests|tools|cmake)/[\w./@+-]*")


def documents():
    return [os.path.join(SOURCE, "README.md")] + sorted(glob.glob(os.path.join(SOURCE, "docs", "*.md")))


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def anchors(text):
    """The ids GitHub gives the headings: markup dropped, lower case, punctuation
    but hyphens and underscores dropped, blanks made hyphens, repeats numbered."""
    seen, ids = {}, set()
    for heading in re.findall(r"^#{1,6} +(.+?) *#*$", FENCE.sub("", text), re.M):
        slug = re.sub(r"[^\w\- ]", "", re.sub(r"\[([^\]]*)\]\([^)]*\)|[`*]", r"\1", heading).lower())
        slug = slug.replace(" ", "-")
        ids.add(slug if slug not in seen else "%s-%d" % (slug, seen[slug]))
        seen[slug] = seen.get(slug, 0) + 1
    return ids


def shell_commands():
    """(document, command words) for every line of every ```sh block."""
    for document in documents():
        for language, block in FENCE.findall(read(document)):
            if language != "sh":
                continue
            for line in block.replace("\\\n", " ").splitlines():
                try:
                    words = shlex.split(line, comments=True)
                except ValueError:
                    words = line.split()
                yield os.path.relpath(document, SOURCE), words


def help_options(*subcommand):
    """The options `vorlen-publish [subcommand] --help` names, the publish
    command's alone when no subcommand is given (its help also shows the others)."""
    text = subprocess.run([TOOL, *subcommand, "--help"], capture_output=True, text=True, check=True,
                          timeout=60).stdout
    if not subcommand:
        text = text.split("\nUsage: vorlen-publish verify")[0]
    return set(re.findall(r"(?<![\w-])(--?[a-z][a-z-]*)", text))


class Links(unittest.TestCase):
    def test_every_relative_link_and_anchor_resolves(self):
        problems = []
        for document in documents():
            text = re.sub(r"`[^`\n]*`", "", FENCE.sub("", read(document)))
            for target in re.findall(r"\]\(([^)\s]+)\)", text):
                if re.match(r"[a-z]+:", target):
                    continue
                path, _, anchor = target.partition("#")
                resolved = os.path.normpath(os.path.join(os.path.dirname(document), path)) if path else document
                where = "%s: (%s)" % (os.path.relpath(document, SOURCE), target)
                if not os.path.exists(resolved):
                    problems.append(where + " names no file")
                elif anchor and (not resolved.endswith(".md") or anchor not in anchors(read(resolved))):
                    problems.append(where + " names no heading")
        self.assertEqual(problems, [])


class ShellBlocks(unittest.TestCase):
    def test_named_scripts_exist_and_publish_options_are_listed(self):
        listed = {"": help_options(), "verify": help_options("verify"), "resign": help_options("resign"),
                  "keygen": set()}
        problems, checked = [], set()
        for document, words in shell_commands():
            for word in words:
                path = PROJECT_PATH.match(word)
                if path and not os.path.exists(os.path.join(SOURCE, path.group(0))):
                    problems.append("%s: %s does not exist" % (document, path.group(0)))
            for start, word in enumerate(words):
                if os.path.basename(word) not in ("vorlen-publish", "vorlen-publish.exe"):
                    continue
                rest = words[start + 1:]
                command = rest[0] if rest and rest[0] in listed else ""
                checked.add(command)
                for option in rest:
                    if option in ("|", ";", "&&", "||", ">"):
                        break
                    name = option.split("=")[0]
                    if name.startswith("-") and name not in listed[command]:
                        problems.append("%s: %s has no option %s" % (document, " ".join(["vorlen-publish", command]).strip(), name))
        self.assertEqual(problems, [])
        # A check that found no command would pass whatever the documents say.
        self.assertTrue({"", "verify", "resign", "keygen"} <= checked, checked)


if __name__ == "__main__":
    unittest.main()
