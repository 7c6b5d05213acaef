"""Upsample a built-in sample signal and compare the result with the true curve.

The sample signal is a short Gaussian-windowed chirp, like one echo of a radar or sonar
pulse, sampled at the integer positions 0..n-1. The demo interpolates it at fractional
positions, linearly and with the cubic, prints a short table of results and errors against
the true curve, and writes a plot (default: demo.png; pass another path as the first
argument).
"""

import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

from velquin_interp import velquin_cubic_interp, velquin_linear_interp  # noqa: E402

N_SAMPLES = 32


def true_curve(t):
    """The continuous pulse that the samples are taken from."""
    t = np.asarray(t, np.float64)
    return np.exp(-(((t - 15.5) / 7.0) ** 2)) * np.cos(0.9 * t + 0.012 * t**2)


def main(plot_path="demo.png"):
    signal = true_curve(np.arange(N_SAMPLES))
    # Fill values mark the outside of the range [0, n-1): below 0 and from n-1 on.
    left, right = np.nan, np.nan

    methods = {"linear": velquin_linear_interp, "cubic": velquin_cubic_interp}

    table_x = np.array([-0.5, 0.0, 0.25, 3.5, 10.75, 15.5, 20.125, 30.9, 31.0, 33.0])
    table = {name: interp(signal, table_x, left, right) for name, interp in methods.items()}
    print(f"{'position':>9} {'true':>9}" + "".join(f" {name:>9} {'error':>9}" for name in methods))
    for j, p in enumerate(table_x):
        inside = 0 <= p < N_SAMPLES - 1
        truth = f"{true_curve(p):9.5f}" if inside else f"{'(fill)':>9}"
        cells = [f" {y[j]:9.5f} " + (f"{y[j] - true_curve(p):+9.5f}" if inside else " " * 9)
                 for y in table.values()]
        print(f"{p:9.3f} {truth}" + "".join(cells))

    fine_x = np.linspace(-1.0, N_SAMPLES, 1200)
    fine = {name: interp(signal, fine_x, left, right) for name, interp in methods.items()}
    inside = (fine_x >= 0) & (fine_x < N_SAMPLES - 1)
    print()
    for name, y in fine.items():
        worst = np.max(np.abs(y[inside] - true_curve(fine_x[inside])))
        where = f"over {inside.sum()} positions in [0, {N_SAMPLES - 1})"
        print(f"max |{name} - true| {where}: {worst:.5f}")

    figure, axes = plt.subplots(figsize=(9, 4))
    axes.plot(fine_x, true_curve(fine_x), color="0.7", lw=3, label="true curve")
    for name, y in fine.items():
        axes.plot(fine_x, y, lw=1.2, label=f"velquin_{name}_interp")
    axes.plot(np.arange(N_SAMPLES), signal, "k.", ms=7, label="samples")
    axes.set_xlabel("position (samples)")
    axes.set_title("Gaussian-windowed chirp, interpolated at 1200 positions")
    axes.legend(loc="upper right")
    figure.tight_layout()
    figure.savefig(plot_path, dpi=110)
    print(f"plot written to {plot_path}")


if __name__ == "__main__":
    main(*sys.argv[1:])
