#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Doxygen's input filter for the pages of docs/, so that the links the pages
make for a repository viewer work in the HTML reference too; the text of a
page is not changed.

A page's first heading gets the label of its file's name ("errors.md" is the
page "errors"); every other heading the anchor a repository viewer gives it
(lower case, punctuation dropped, spaces as hyphens) after the page's label,
as labels are one name space across all pages. Links to "#a-heading",
"page.md#a-heading" and "page.md" between the pages of docs/ are pointed at
those labels, and links to a public header at the header's reference.
Headings and links inside fenced code are left alone."""
import re
import sys
from pathlib import Path

HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
FENCE = re.compile(r"^\s*(```|~~~)")
LINK = re.compile(r"\]\((?:\./)?([\w\-]+\.md)?(?:#([\w\-]+))?\)")
HEADER_LINK = re.compile(r"\]\(\.\./include/([\w\-]+\.h)\)")


def slug(text: str) -> str:
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)  # a link: its text
    text = text.lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def label_of(stem: str) -> str:
    return re.sub(r"\W", "_", stem)


def main() -> None:
    path = Path(sys.argv[1])
    page = label_of(path.stem)

    def relink(match: re.Match) -> str:
        target, anchor = match.group(1), match.group(2)
        if target is None and anchor is None:
            return match.group(0)
        if target is not None:
            if not (path.parent / target).is_file():
                return match.group(0)
            target = label_of(Path(target).stem)
        else:
            target = page
        return f"](#{target}-{anchor})" if anchor else f"](#{target})"

    seen: dict[str, int] = {}
    fenced = False
    first = True
    for line in path.read_text(encoding="utf-8").splitlines():
        if FENCE.match(line):
            fenced = not fenced
        match = None if fenced else HEADING.match(line)
        if not fenced:
            line = LINK.sub(relink, line)
            line = HEADER_LINK.sub(r"](@ref \1)", line)
        if match is None or "{#" in line:
            print(line)
            continue
        if first:
            label = page
            first = False
        else:
            label = f"{page}-{slug(match.group(2))}"
            count = seen.get(label, 0)
            seen[label] = count + 1
            if count:
                label = f"{label}-{count}"
        print(f"{match.group(1)} {match.group(2)} {{#{label}}}")


if __name__ == "__main__":
    main()
