#!/usr/bin/env python3
"""Every relative link of the README and of the manual leads somewhere: to a
file of the tree, and where it names a heading (#...), to one of that page's
headings, as a Markdown renderer makes their anchors.

    links_test.py <source folder>
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
pages = [root / "README.md", *sorted((root / "doc").glob("*.md"))]


def anchors(page):
    """The anchors of a page's headings: lower case, punctuation left out,
    spaces as dashes, a repeated one numbered."""
    found, seen, fenced = set(), {}, False
    for line in page.read_text(encoding="utf-8").splitlines():
        if line.startswith("```"):
            fenced = not fenced
        if fenced or not re.match(r"#+ ", line):
            continue
        slug = re.sub(r"[^\w\- ]", "", line.lstrip("#").strip().lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        found.add(slug if count == 0 else f"{slug}-{count}")
    return found


broken = []
for page in pages:
    text = re.sub(r"```.*?```", "", page.read_text(encoding="utf-8"), flags=re.S)
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"[a-z]+:", target):
            continue  # http:, https:, mailto:
        path, _, anchor = target.partition("#")
        where = (page.parent / path).resolve() if path else page
        if not where.exists():
            broken.append(f"{page.relative_to(root)}: {target}: no such file")
        elif anchor and where.suffix == ".md" and anchor not in anchors(where):
            broken.append(f"{page.relative_to(root)}: {target}: no such heading")
if broken:
    sys.exit("\n".join(broken))
print(f"every relative link of {len(pages)} pages leads somewhere")
