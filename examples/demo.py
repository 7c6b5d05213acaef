"""Interpolate a built-in sample signal and compare the results with the true curve.

The sample signal is a short Gaussian-windowed chirp, like one echo of a radar or sonar
pulse, sampled at the integer positions 0..n-1. The demo interpolates it at fractional
positions, linearly and with the cubic, and prints a short table of results and errors
against the true curve. It then stacks the echoes of a target that moves by a fraction of
a sample from ping to ping into a small image, and blends two rows of it to estimate the
echo between two pings. It writes a plot of both (default: demo.png; pass another path as
the first argument).
"""

import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np
from velquin_interp import (
    velquin_cubic_interp,
    velquin_linear_interp,
    velquin_linear_vertical_interp_2d,
)

N_SAMPLES = 32
N_PINGS = 8
SHIFT_PER_PING = 0.375  # the target's motion between pings, in samples


def true_curve(t):
    """The continuous pulse that the samples are taken from."""
    t = np.asarray(t, np.float64)
    return np.exp(-(((t - 15.5) / 7.0) ** 2)) * np.cos(0.9 * t + 0.012 * t**2)


def upsample_pulse(axes):
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
        cells = [
            f" {y[j]:9.5f} " + (f"{y[j] - true_curve(p):+9.5f}" if inside else " " * 9)
            for y in table.values()
        ]
        print(f"{p:9.3f} {truth}" + "".join(cells))

    fine_x = np.linspace(-1.0, N_SAMPLES, 1200)
    fine = {name: interp(signal, fine_x, left, right) for name, interp in methods.items()}
    inside = (fine_x >= 0) & (fine_x < N_SAMPLES - 1)
    print()
    for name, y in fine.items():
        worst = np.max(np.abs(y[inside] - true_curve(fine_x[inside])))
        where = f"over {inside.sum()} positions in [0, {N_SAMPLES - 1})"
        print(f"max |{name} - true| {where}: {worst:.5f}")

    axes.plot(fine_x, true_curve(fine_x), color="0.7", lw=3, label="true curve")
    for name, y in fine.items():
        axes.plot(fine_x, y, lw=1.2, label=f"velquin_{name}_interp")
    axes.plot(np.arange(N_SAMPLES), signal, "k.", ms=7, label="samples")
    axes.set_xlabel("position (samples)")
    axes.set_title("Gaussian-windowed chirp, interpolated at 1200 positions")
    axes.legend(loc="upper right")


def blend_pings(axes):
    t = np.arange(N_SAMPLES)
    image = np.stack([true_curve(t - SHIFT_PER_PING * ping) for ping in range(N_PINGS)])
    ping = 2.5
    blended = velquin_linear_vertical_interp_2d(image, ping)
    truth = true_curve(t - SHIFT_PER_PING * ping)
    print(f"\nimage of {N_PINGS} pings x {N_SAMPLES} samples, blended at ping {ping}:")
    for name, row in [("ping 2", image[2]), ("ping 3", image[3]), ("blend", blended)]:
        error = np.max(np.abs(row - truth))
        print(f"  {name:>6}: max |row - true echo at ping {ping}| = {error:.5f}")

    axes.plot(t, truth, color="0.7", lw=3, label=f"true echo at ping {ping}")
    axes.plot(t, image[2], "--", lw=1, label="ping 2")
    axes.plot(t, image[3], "--", lw=1, label="ping 3")
    axes.plot(t, blended, "k.-", lw=1.2, ms=5, label="velquin_linear_vertical_interp_2d")
    axes.set_xlabel("sample")
    axes.set_title(f"Two rows of an echo image blended at row {ping}")
    axes.legend(loc="upper right", fontsize="small")


def main(plot_path="demo.png"):
    figure, (top, bottom) = plt.subplots(2, 1, figsize=(9, 7.5))
    upsample_pulse(top)
    blend_pings(bottom)
    figure.tight_layout()
    figure.savefig(plot_path, dpi=110)
    print(f"plot written to {plot_path}")


if __name__ == "__main__":
    main(*sys.argv[1:])
