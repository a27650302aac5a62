// The side panel: the run's key figures, the verdicts when the data has
// them, what the view shows (total, direct or interreflected light, one
// scale or each area's own, the layers), the camera presets, and a row per
// area that selects it.
import { formatValue } from './colour.js';

const QUANTITY_NAMES = { total: 'Total', direct: 'Direct', interreflected: 'Interreflected' };

function element(tag, attributes = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attributes)) {
    if (k === 'className') e.className = v;
    else if (k.startsWith('on')) e.addEventListener(k.slice(2), v);
    else e.setAttribute(k, v);
  }
  for (const c of children) e.append(c);
  return e;
}

function signed(v, unit) {
  const text = formatValue(Math.abs(v));
  return `${v < 0 ? '\u2212' : '+'}${text}${unit ? ` ${unit}` : ''}`;
}

export class Panel {
  constructor(root, data, viewer, events) {
    this.data = data;
    this.viewer = viewer;
    this.events = events;
    this.unit = data.units.illuminance;
    this.rows = [];
    root.append(
      element('h1', {}, data.title),
      element('div', { className: 'scene' }, data.scene),
      this.figures(),
      ...this.verdicts(),
      element('h2', {}, 'Show'),
      this.quantitySwitch(),
      this.scaleSwitch(),
      element('h2', {}, 'Views'),
      this.presetButtons(),
      element('h2', {}, 'Layers'),
      this.layerToggles(),
      element('h2', {}, 'Areas'),
      this.areaTable(),
      (this.selection = element('div', { className: 'note', id: 'selection' })),
    );
    this.refreshStats();
  }

  figures() {
    const list = element('dl', { className: 'figures' });
    for (const f of this.data.figures) list.append(element('dt', {}, f.label), element('dd', {}, f.value));
    return list;
  }

  // The verdict table, only when the run checked requirements.
  verdicts() {
    const verdicts = this.data.verdicts || [];
    if (verdicts.length === 0) return [];
    const body = element('tbody');
    for (const v of verdicts) {
      const relation = v.relation === '<=' ? '\u2264' : '\u2265';
      const unit = v.unit ? ` ${v.unit}` : '';
      body.append(
        element(
          'tr',
          { onclick: () => this.selectByName(v.area), title: v.area },
          element('td', {}, `${v.requirement} \u00b7 ${v.area}`),
          element('td', { className: 'num' }, `${relation} ${formatValue(v.target)}${unit}`),
          element('td', { className: 'num' }, v.result === null ? '-' : `${formatValue(v.result)}${unit}`),
          element('td', { className: 'num' }, v.result === null ? '-' : signed(v.margin, v.unit)),
          element('td', { className: v.pass ? 'pass' : 'fail' }, v.pass ? 'pass' : 'fail'),
        ),
      );
    }
    const head = element(
      'thead',
      {},
      element(
        'tr',
        {},
        element('th', {}, 'Requirement'),
        element('th', { className: 'num' }, 'Target'),
        element('th', { className: 'num' }, 'Result'),
        element('th', { className: 'num' }, 'Margin'),
        element('th', {}, ''),
      ),
    );
    return [element('h2', {}, 'Verdicts'), element('table', { id: 'verdicts' }, head, body)];
  }

  quantitySwitch() {
    const box = element('div', { className: 'switch', role: 'group', 'aria-label': 'light shown' });
    this.quantityButtons = {};
    for (const q of ['total', 'direct', 'interreflected']) {
      const available = this.data.quantities.includes(q);
      const b = element(
        'button',
        {
          type: 'button',
          'data-quantity': q,
          'aria-pressed': String(q === this.viewer.quantity),
          title: available ? '' : 'this run worked out no interreflection: all its light is direct',
          onclick: () => this.setQuantity(q),
        },
        QUANTITY_NAMES[q],
      );
      b.disabled = !available;
      this.quantityButtons[q] = b;
      box.append(b);
    }
    return box;
  }

  setQuantity(q) {
    this.viewer.setQuantity(q);
    for (const [k, b] of Object.entries(this.quantityButtons)) b.setAttribute('aria-pressed', String(k === q));
    this.refreshStats();
    this.events.onChange();
  }

  scaleSwitch() {
    const box = element('div', { className: 'switch', role: 'group', 'aria-label': 'colour scale', style: 'margin-top:4px' });
    const modes = [
      ['common', 'One scale for the room'],
      ['own', 'Each area its own (as its map)'],
    ];
    const buttons = modes.map(([mode, text]) =>
      element(
        'button',
        {
          type: 'button',
          'data-scale': mode,
          'aria-pressed': String(mode === this.viewer.scaleMode),
          onclick: () => {
            this.viewer.setScaleMode(mode);
            buttons.forEach((b) => b.setAttribute('aria-pressed', String(b.dataset.scale === mode)));
            this.events.onChange();
          },
        },
        text,
      ),
    );
    box.append(...buttons);
    return box;
  }

  presetButtons() {
    const box = element('div', { className: 'presets' });
    this.presetButtonList = this.viewer.presets.map((p) => {
      const b = element('button', { type: 'button', 'data-preset': p.id, onclick: () => this.applyPreset(p.id) }, p.label);
      box.append(b);
      return b;
    });
    this.markPreset();
    return box;
  }

  applyPreset(id) {
    this.viewer.applyPreset(id);
    this.markPreset();
  }

  markPreset() {
    for (const b of this.presetButtonList) b.classList.toggle('active', b.dataset.preset === this.viewer.preset);
  }

  layerToggles() {
    const box = element('div', { className: 'toggles' });
    const toggle = (name, text, on, change) => {
      const input = element('input', { type: 'checkbox', 'data-layer': name });
      input.checked = on;
      input.addEventListener('change', () => change(input.checked));
      box.append(element('label', {}, input, ` ${text}`));
      return input;
    };
    toggle('iso', 'Iso-lux lines', true, (on) => this.viewer.setIso(on));
    // The ceiling hides the room from above and from outside: a quick way
    // to take every reflecting area facing down out of the view.
    const ceilings = this.viewer.areas.filter((a) => a.isCeiling);
    if (ceilings.length)
      toggle('ceiling', 'Ceiling', true, (on) => {
        for (const a of ceilings) this.setAreaShown(a.index, on);
      });
    if (this.data.furniture.length) toggle('furniture', 'Furniture', true, (on) => this.viewer.setLayerVisible('furniture', on));
    if (this.data.luminaires.length) toggle('luminaires', 'Luminaires', true, (on) => this.viewer.setLayerVisible('luminaires', on));
    if (this.data.observers.length) toggle('observers', 'Observers', true, (on) => this.viewer.setLayerVisible('observers', on));
    toggle('labels', 'Names', this.viewer.labelsOn, (on) => this.viewer.setLayerVisible('labels', on));
    return box;
  }

  areaTable() {
    const body = element('tbody');
    this.viewer.areas.forEach((a) => {
      const s = a.surface;
      const shown = element('input', { type: 'checkbox', 'data-area': String(a.index), title: 'show in the view' });
      shown.checked = a.mesh.visible;
      shown.addEventListener('click', (e) => e.stopPropagation());
      shown.addEventListener('change', () => this.setAreaShown(a.index, shown.checked));
      const cells = ['avg', 'min', 'max', 'u0'].map((k) => element('td', { className: 'num', 'data-stat': k }));
      const label = s.role === 'surface' || s.kind === 'points' ? s.name : s.name.slice(s.surface.length + 3) || s.name;
      const row = element(
        'tr',
        {
          className: a.isSubArea ? 'sub' : '',
          'data-index': String(a.index),
          title: s.name,
          onclick: () => this.select(a.index),
          ondblclick: () => {
            this.setAreaShown(a.index, true);
            this.viewer.frame(a.index);
            this.markPreset();
          },
        },
        element('td', {}, shown),
        element('td', {}, label),
        ...cells,
      );
      this.rows.push({ row, cells, shown, area: a });
      body.append(row);
    });
    const head = element(
      'thead',
      {},
      element(
        'tr',
        {},
        element('th', {}, ''),
        element('th', {}, 'Area'),
        element('th', { className: 'num' }, `E avg`),
        element('th', { className: 'num' }, 'min'),
        element('th', { className: 'num' }, 'max'),
        element('th', { className: 'num' }, 'U0'),
      ),
    );
    return element('div', {}, element('table', { id: 'areas' }, head, body),
      element('div', { className: 'note' }, `Illuminance in ${this.unit}, maintained. Click a row to select its area, double-click to look at it.`));
  }

  setAreaShown(index, on) {
    this.viewer.setAreaVisible(index, on);
    this.rows[index].shown.checked = on;
  }

  refreshStats() {
    const q = this.viewer.quantity;
    for (const { cells, area } of this.rows) {
      const s = area.surface.stats[q];
      cells[0].textContent = formatValue(s.avg);
      cells[1].textContent = formatValue(s.min);
      cells[2].textContent = formatValue(s.max);
      cells[3].textContent = s.u0.toFixed(2);
    }
    this.describeSelection();
  }

  select(index) {
    const same = this.viewer.selected === index;
    this.viewer.select(same ? null : index);
    for (const { row, area } of this.rows) row.classList.toggle('selected', !same && area.index === index);
    if (!same && !this.rows[index].area.mesh.visible) this.setAreaShown(index, true);
    this.describeSelection();
    this.events.onChange();
  }

  selectByName(name) {
    const area = this.viewer.areas.find((a) => a.surface.name === name);
    if (area) return this.select(area.index);
    const observer = this.data.observers.findIndex((o) => o.name === name);
    if (observer >= 0) this.applyPreset(`observer:${observer}:0`);
  }

  describeSelection() {
    const index = this.viewer.selected;
    if (index === null) {
      this.selection.textContent = '';
      return;
    }
    const s = this.viewer.areas[index].surface;
    const st = s.stats[this.viewer.quantity];
    const masked = st.masked ? `, ${st.masked} masked` : '';
    const file = s.file ? ` \u2014 ${s.file}.csv` : '';
    this.selection.textContent =
      `${s.name}: E avg ${formatValue(st.avg)} ${this.unit}, min ${formatValue(st.min)}, ` +
      `max ${formatValue(st.max)}, U0 ${st.u0.toFixed(2)}, Ud ${st.ud.toFixed(2)}; ` +
      `${st.counted} points${masked}${file}`;
  }
}
