// The report page: reads the run's data from the page, builds the 3D view
// and the side panel, and says what lies under the pointer.
import { drawLegend, formatValue } from './colour.js';
import { Panel } from './panel.js';
import { Viewer } from './viewer.js';

const data = JSON.parse(document.getElementById('zel-lux-data').textContent);
const unit = data.units.illuminance;
const length = data.units.length;
const readout = document.getElementById('readout');
const tooltip = document.getElementById('tooltip');
const legend = document.getElementById('legend');

function coordinates(p) {
  return `x ${p[0].toFixed(2)}, y ${p[1].toFixed(2)}, z ${p[2].toFixed(2)} ${length}`;
}

// The readout: the value of what is shown, its parts, where and on what.
// Its data-* attributes carry the same numbers unrounded, for scripts.
function showReading(hit, event) {
  for (const k of Object.keys(readout.dataset)) delete readout.dataset[k];
  if (!hit) {
    readout.textContent = 'Point at a surface to read its illuminance.';
    tooltip.hidden = true;
    return;
  }
  readout.textContent = '';
  const q = viewer.quantity;
  if (hit.values) {
    const parts = Object.entries(hit.values)
      .filter(([k]) => k !== q)
      .map(([k, v]) => `${k} ${formatValue(v)}`);
    const masked = hit.state === 'masked' ? ' (masked: not counted)' : '';
    const value = document.createElement('span');
    value.className = 'value';
    value.textContent = `E ${formatValue(hit.values[q])} ${unit}`;
    const rest = document.createElement('span');
    rest.textContent = `${parts.length ? ` (${parts.join(', ')})` : ''}${masked}`;
    const where = document.createElement('div');
    where.className = 'where';
    const name = hit.label ? `${hit.area.surface.name}: ${hit.label}` : hit.area.surface.name;
    where.textContent = `${name} \u2014 ${coordinates(hit.point)}`;
    readout.append(value, rest, where);
    Object.assign(readout.dataset, {
      area: hit.area.surface.name,
      quantity: q,
      value: String(hit.values[q]),
      state: hit.state,
      point: hit.point.join(','),
    });
    for (const [k, v] of Object.entries(hit.values)) readout.dataset[k] = String(v);
    tooltip.textContent = `${formatValue(hit.values[q])} ${unit}`;
  } else {
    readout.textContent = `${hit.kind} \u201c${hit.name}\u201d \u2014 ${coordinates(hit.point)}`;
    readout.dataset.object = hit.name;
    tooltip.textContent = hit.name;
  }
  if (event) {
    const r = canvas.getBoundingClientRect();
    tooltip.style.left = `${event.clientX - r.left}px`;
    tooltip.style.top = `${event.clientY - r.top}px`;
    tooltip.hidden = false;
  }
}

function refreshLegend() {
  legend.textContent = '';
  const area = viewer.selected !== null ? viewer.areas[viewer.selected] : null;
  const title = document.createElement('div');
  title.className = 'title';
  if (viewer.scaleMode === 'own' && !area) {
    title.textContent = 'Each area its own scale: select one';
    legend.append(title);
    return;
  }
  const scale = area && viewer.scaleMode === 'own' ? area.surface.scales[viewer.quantity] : data.scales[viewer.quantity];
  title.textContent = `${unit === 'lx' ? 'lux' : unit}, ${viewer.quantity}`;
  const bar = document.createElement('canvas');
  drawLegend(bar, data.ramp, scale, title.textContent);
  legend.append(title, bar);
}

const canvas = document.getElementById('view');
let viewer;
let panel;
try {
  viewer = new Viewer(canvas, data, {
    onHover: (hit, event) => showReading(hit, event),
    onSelect: (index) => panel.select(index),
  });
  panel = new Panel(document.getElementById('panel'), data, viewer, { onChange: refreshLegend });
  refreshLegend();
} catch (e) {
  readout.textContent = `This browser cannot show the 3D view (${e.message}). The results are in the CSV files beside this report.`;
  throw e;
}

// For scripts and tests: the data, where a point of the scene lies on the
// page, the camera, and the picture's pixels.
window.zelLux = {
  data,
  screenOf: (p) => viewer.screenOf(p),
  camera: () => viewer.cameraState(),
  pixels: (step, at) => {
    const { width, height, data: px, at: picked } = viewer.pixels(step, at);
    let text = '';
    for (let k = 0; k < px.length; k += 0x8000) text += String.fromCharCode(...px.subarray(k, k + 0x8000));
    return { width, height, rgba: btoa(text), at: picked };
  },
  frameTime: (frames) => viewer.frameTime(frames),
  ready: true,
};
