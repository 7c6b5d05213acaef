"""Checks the release path of .github/workflows/wheels.yml, which no machine here can run.

    python packaging/release-check.py             # the job graph, and CHANGELOG.md's entry
    python packaging/release-check.py --tag v0.1  # the tag names pyproject.toml's version,
                                                  # which CHANGELOG.md describes

Without --tag (`make lint`): a version tag triggers the workflow, and the one job that
uploads runs on version tags only, after the tag check and every job that builds a wheel or
the sdist, with the OpenID Connect token of trusted publishing as its only permission and no
stored secret. With --tag (the workflow's own first job, on the tag pushed): the tag is "v"
followed by pyproject.toml's version. Exits 1 with the reasons on any failure.
"""

import argparse
import re
import sys
from pathlib import Path

try:
    import tomllib
except ModuleNotFoundError:  # Python 3.10
    import tomli as tomllib

ROOT = Path(__file__).resolve().parent.parent
WORKFLOW = ROOT / ".github" / "workflows" / "wheels.yml"
PUBLISH_ACTION = "pypa/gh-action-pypi-publish@"
ON_VERSION_TAGS = "startsWith(github.ref, 'refs/tags/v')"


def version():
    return tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]["version"]


def changelog_problems(expected):
    headings = re.findall(r"^## (\S+)", (ROOT / "CHANGELOG.md").read_text(), re.M)
    if not headings or headings[0] != expected:
        return [f"CHANGELOG.md's newest entry is {headings[:1]}, not the version {expected}"]
    return []


def uses(job):
    return [step.get("uses", "") for step in job.get("steps", [])]


def workflow_problems():
    import yaml  # the lint extra's; the workflow's own check needs only the standard library

    workflow = yaml.safe_load(WORKFLOW.read_text())
    # YAML 1.1 reads the key `on` as True.
    triggers = workflow.get("on", workflow.get(True, {}))
    jobs = workflow["jobs"]
    problems = []
    if "v*" not in triggers.get("push", {}).get("tags", []):
        problems.append("a pushed version tag (v*) does not trigger the workflow")
    publishers = [
        name
        for name, job in jobs.items()
        if any(step.startswith(PUBLISH_ACTION) for step in uses(job))
    ]
    if len(publishers) != 1:
        return [*problems, f"one job must upload to PyPI, not {publishers}"]
    publish = jobs[publishers[0]]
    needs = publish.get("needs", [])
    needs = [needs] if isinstance(needs, str) else needs
    builders = [
        name
        for name, job in jobs.items()
        if any(step.startswith("actions/upload-artifact@") for step in uses(job))
    ]
    checkers = [
        name
        for name, job in jobs.items()
        if any("release-check.py --tag" in step.get("run", "") for step in job.get("steps", []))
    ]
    if not builders or not checkers:
        problems.append("no job builds the distributions, or none checks the tag")
    for name in [*checkers, *builders]:
        if name not in needs:
            problems.append(f"the upload does not wait for the job {name!r}")
    for name in checkers:
        if jobs[name].get("if") != ON_VERSION_TAGS:
            problems.append(f"the tag check {name!r} does not run on version tags")
    if publish.get("if") != ON_VERSION_TAGS:
        problems.append(f"the upload runs on {publish.get('if')!r}, not on version tags only")
    if publish.get("permissions") != {"id-token": "write"}:
        problems.append("the upload's only permission must be the trusted publishing token")
    if workflow.get("permissions") != {"contents": "read"}:
        problems.append("the workflow's default permission must be reading the contents")
    if "secrets." in WORKFLOW.read_text() or any(
        "password" in step.get("with", {}) for step in publish["steps"]
    ):
        problems.append("the workflow uses a stored secret; trusted publishing needs none")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tag", help="the pushed tag; it must be v and pyproject's version")
    arguments = parser.parse_args()
    expected = version()
    problems = changelog_problems(expected)
    if arguments.tag is None:
        problems += workflow_problems()
    elif arguments.tag != f"v{expected}":
        problems.append(f"the tag {arguments.tag} does not name pyproject's version {expected}")
    for problem in problems:
        print(f"error: {problem}", file=sys.stderr)
    if not problems:
        print(f"release path checked for version {expected}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
