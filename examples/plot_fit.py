"""Draw the calibration data, the fitted line and the residuals to a PNG.

Needs Matplotlib: pip install "trendfit[examples]".
Usage: python3 examples/plot_fit.py [OUTPUT.png]
"""

import os
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # draw to a file; no display needed

import matplotlib.pyplot as plt  # noqa: E402  (after choosing the backend)
import numpy as np  # noqa: E402

from trendfit import LinearRegression  # noqa: E402

HERE = Path(__file__).parent
DATA = HERE / "data" / "calibration.csv"
DEFAULT_OUTPUT = HERE / "calibration_fit.png"


def draw(pressure, voltage, fit, output):
    line_x = np.array([pressure.min(), pressure.max()])
    residuals = voltage - np.array(fit.predict(pressure))

    figure, (top, bottom) = plt.subplots(
        2, 1, figsize=(7, 6), sharex=True, gridspec_kw={"height_ratios": [3, 1.4]}, layout="constrained"
    )
    top.scatter(pressure, voltage, s=18, color="tab:blue", label="readings")
    top.plot(line_x, fit.predict(line_x), color="tab:orange",
             label=f"fit: {fit.intercept():.4f} + {fit.slope():.6f} · p   (R² = {fit.r_squared():.6f})")
    top.set_ylabel("sensor output (mV)")
    top.set_title("Pressure-sensor calibration")
    top.legend(loc="upper left")

    bottom.axhline(0.0, color="tab:orange", linewidth=1)
    bottom.vlines(pressure, 0.0, residuals, color="tab:gray", linewidth=1)
    bottom.scatter(pressure, residuals, s=14, color="tab:blue")
    bottom.set_xlabel("reference pressure p (kPa)")
    bottom.set_ylabel("residual (mV)")
    bottom.set_title(f"residuals: RMSE {fit.rmse():.4f} mV, residual std. error {fit.residual_std_error():.4f} mV",
                     fontsize="medium")

    # No software-version stamp, so that the file only changes when the picture does.
    figure.savefig(output, dpi=100, metadata={"Software": None})
    plt.close(figure)


def main():
    output = Path(sys.argv[1]) if len(sys.argv) > 1 else DEFAULT_OUTPUT
    table = np.loadtxt(DATA, delimiter=",", skiprows=1)
    pressure, voltage = table[:, 0], table[:, 1]
    draw(pressure, voltage, LinearRegression(pressure, voltage), output)
    print(f"wrote {os.path.relpath(output)}")


main()
