import os

from helpers import FIGURES
from hypothesis import HealthCheck, settings

# "ci" is the default: a fixed seed per test, so every run tries the same examples.
# VELQUIN_HYPOTHESIS_PROFILE=explore draws new ones each time, and many more.
settings.register_profile(
    "ci",
    derandomize=True,
    database=None,
    deadline=None,
    max_examples=1500,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)
settings.register_profile(
    "explore", deadline=None, max_examples=20000, suppress_health_check=[HealthCheck.too_slow]
)
settings.load_profile(os.environ.get("VELQUIN_HYPOTHESIS_PROFILE", "ci"))


def pytest_terminal_summary(terminalreporter):
    for name, value in FIGURES.items():
        terminalreporter.write_line(f"{name}: {value:,}")
