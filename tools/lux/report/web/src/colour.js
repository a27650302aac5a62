// The false-colour scale of the maps: the ramp as a table of colours at
// equal steps (the calculator's own ramp, sampled where its stops lie), the
// labels of its ticks, and the legend drawn from both.

// The colour of t in [0, 1]: linear between the table's neighbours, as the
// surfaces' shader does it.
export function rampColour(ramp, t) {
  const n = ramp.length;
  const k = Math.min(Math.max(Number.isFinite(t) ? t : 0, 0), 1) * (n - 1);
  const k0 = Math.min(Math.floor(k), n - 2);
  const f = k - k0;
  return [0, 1, 2].map((c) => ramp[k0][c] + (ramp[k0 + 1][c] - ramp[k0][c]) * f);
}

// A tick's label: no more decimals than the step between ticks needs, as
// the maps print them.
export function tickLabel(v, step) {
  let decimals = 0;
  while (decimals < 4 && Math.abs(step * 10 ** decimals - Math.round(step * 10 ** decimals)) > 1e-6)
    ++decimals;
  return v.toFixed(decimals);
}

// An illuminance for reading: four significant figures, at most two
// decimals beyond them, never in exponent form.
export function formatValue(v) {
  if (!Number.isFinite(v)) return '–';
  const magnitude = v === 0 ? 0 : Math.floor(Math.log10(Math.abs(v)));
  return v.toFixed(Math.min(Math.max(3 - magnitude, 0), 5));
}

export function ticksOf(scale) {
  return [scale.lo, ...scale.levels, scale.hi];
}

// The colour bar with its ticks and labels, bottom (lo) to top (hi), into
// a canvas; `title` above it names the unit and what is shown.
export function drawLegend(canvas, ramp, scale, title) {
  const barW = 18;
  const barH = 190;
  const top = 8;
  const left = 4;
  const width = 96;
  const ratio = window.devicePixelRatio || 1;
  canvas.width = Math.round(width * ratio);
  canvas.height = Math.round((barH + 2 * top) * ratio);
  canvas.style.width = `${width}px`;
  canvas.style.height = `${barH + 2 * top}px`;
  const g = canvas.getContext('2d');
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  g.clearRect(0, 0, width, barH + 2 * top);
  for (let y = 0; y < barH; ++y) {
    const c = rampColour(ramp, 1 - (y + 0.5) / barH);
    g.fillStyle = `rgb(${c.map((x) => Math.round(x * 255)).join(',')})`;
    g.fillRect(left, top + y, barW, 1);
  }
  g.strokeStyle = '#333';
  g.lineWidth = 1;
  g.strokeRect(left + 0.5, top + 0.5, barW - 1, barH - 1);
  g.fillStyle = '#1d232a';
  g.font = '11px "DejaVu Sans", sans-serif';
  g.textBaseline = 'middle';
  for (const v of ticksOf(scale)) {
    const y = Math.round(top + barH * (1 - (v - scale.lo) / (scale.hi - scale.lo))) + 0.5;
    g.beginPath();
    g.moveTo(left + barW, y);
    g.lineTo(left + barW + 5, y);
    g.stroke();
    g.fillText(tickLabel(v, scale.step), left + barW + 8, y);
  }
  canvas.title = title;
}
