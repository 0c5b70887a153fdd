// dio-panel's page: switches, lamps, a trace and the map, kept in step with
// the panel over one live connection. The token comes from the URL's
// fragment, which the browser never sends to the panel by itself.
'use strict';

const token = new URLSearchParams(location.hash.slice(1)).get('token') || '';
const SVG = 'http://www.w3.org/2000/svg';
const TRACE_MS = 60000;
const COLOURS = {
  follow: '#2e7d32', invert: '#6a1b9a', and: '#1565c0', or: '#00838f',
  low: '#555', high: '#555', intermittent: '#ef6c00', other: '#b00020',
};

let live = null;
let state = null;
let history = []; // {t, do, di}, oldest first, the last 60 s

const $ = (selector) => document.querySelector(selector);
const bit = (word, i) => (word >>> i) & 1;

function alertText(text) {
  const a = $('#alert');
  a.textContent = text;
  a.hidden = !text;
}

// A command: over the live connection, or as a call where it is down.
function send(command) {
  if (live && live.readyState === WebSocket.OPEN) {
    live.send(JSON.stringify(command));
    return;
  }
  fetch('/command', {
    method: 'POST',
    headers: { 'Content-Type': 'application/json', Authorization: 'Bearer ' + token },
    body: JSON.stringify(command),
  }).then((r) => (r.ok ? null : r.json().then((e) => alertText(e.error))))
    .catch(() => alertText('the panel does not answer'));
}

function build() {
  const outputs = $('#outputs');
  const inputs = $('#inputs');
  for (let i = 0; i < 32; i++) {
    const b = document.createElement('button');
    b.type = 'button';
    b.dataset.do = i;
    b.textContent = 'DO ' + i;
    b.setAttribute('aria-pressed', 'false');
    b.addEventListener('click', () => {
      const on = b.getAttribute('aria-pressed') === 'true';
      send({ line: i, value: on ? 0 : 1 });
    });
    outputs.appendChild(b);
    const lamp = document.createElement('span');
    lamp.className = 'lamp';
    lamp.dataset.di = i;
    lamp.dataset.value = '0';
    lamp.setAttribute('role', 'img');
    lamp.setAttribute('aria-label', 'DI ' + i + ' low');
    lamp.textContent = 'DI ' + i;
    inputs.appendChild(lamp);
  }
  $('#word-form').addEventListener('submit', (e) => {
    e.preventDefault();
    const word = $('input[name=word]').value.trim().replace(/^0x/i, '');
    if (!/^[0-9a-fA-F]{1,8}$/.test(word)) {
      alertText('a word is 1 to 8 hex digits');
      return;
    }
    send({ word: word.toLowerCase() });
  });
  $('input[name=word]').addEventListener('keydown', (e) => {
    if (e.key === 'Enter') {
      e.preventDefault();
      $('#word-form').requestSubmit();
    }
  });
  for (const b of document.querySelectorAll('button[data-action]'))
    b.addEventListener('click', () => send({ action: b.dataset.action }));
}

function show(s) {
  const first = state === null;
  const errors = state ? state.errors : s.errors;
  state = s;
  const held = parseInt(s.do, 16);
  const read = parseInt(s.di, 16);
  const outputs = parseInt(s.outputs, 16);
  const inputs = parseInt(s.inputs, 16);
  const busy = s.busy !== '';
  for (const b of document.querySelectorAll('button[data-do]')) {
    const i = Number(b.dataset.do);
    b.setAttribute('aria-pressed', bit(held, i) ? 'true' : 'false');
    b.disabled = busy || !bit(outputs, i);
  }
  for (const lamp of document.querySelectorAll('[data-di]')) {
    const i = Number(lamp.dataset.di);
    const v = bit(read, i);
    lamp.dataset.value = String(v);
    lamp.setAttribute('aria-label', 'DI ' + i + (v ? ' high' : ' low'));
    lamp.classList.toggle('hidden-line', !bit(inputs, i));
  }
  for (const b of document.querySelectorAll('button[data-action]')) b.disabled = busy;
  $('#status').textContent = busy ? 'the ' + s.busy + ' is running…' : 'do:' + s.do + ',di:' + s.di;
  if (!first && s.errors !== errors) alertText(s.error);
  const now = performance.now();
  history.push({ t: now, do: held, di: read });
  while (history.length > 1 && history[1].t < now - TRACE_MS) history.shift();
}

// The trace: a row per line shown, high as a raised line, the newest right.
function drawTrace() {
  const canvas = $('#trace');
  const g = canvas.getContext('2d');
  g.clearRect(0, 0, canvas.width, canvas.height);
  if (!state) return;
  const rows = [];
  const outputs = parseInt(state.outputs, 16);
  const inputs = parseInt(state.inputs, 16);
  for (let i = 0; i < 32; i++) if (bit(outputs, i)) rows.push(['DO ' + i, 'do', i]);
  for (let i = 0; i < 32; i++) if (bit(inputs, i)) rows.push(['DI ' + i, 'di', i]);
  const h = Math.max(4, Math.min(16, (canvas.height - 4) / rows.length));
  canvas.height = Math.max(60, rows.length * h + 4);
  const left = 44;
  const width = canvas.width - left - 4;
  const now = performance.now();
  g.font = Math.min(11, h) + 'px sans-serif';
  rows.forEach(([label, key, i], row) => {
    const y0 = 2 + row * h;
    g.fillStyle = '#555';
    if (h >= 8) g.fillText(label, 2, y0 + h - 2);
    g.strokeStyle = key === 'do' ? '#2e7d32' : '#f57f17';
    g.beginPath();
    let level = null;
    for (const p of history) {
      const x = left + width * Math.max(0, 1 - (now - p.t) / TRACE_MS);
      const v = bit(p[key], i);
      const y = y0 + (v ? 1 : h - 2);
      if (level === null) g.moveTo(x, y);
      else g.lineTo(x, level), g.lineTo(x, y);
      level = y;
    }
    if (level !== null) g.lineTo(left + width, level);
    g.stroke();
  });
}

// The map: a DO x DI grid, a mark per dependency coloured by its reading,
// each with the reading as text; the map file below, to download.
function showMap(m) {
  const size = 16;
  const left = 48;
  const top = 40;
  const svg = document.createElementNS(SVG, 'svg');
  const cols = 33; // DO 0-31, and none
  svg.setAttribute('viewBox', `0 0 ${left + cols * size + 8} ${top + 32 * size + 8}`);
  svg.setAttribute('width', left + cols * size + 8);
  svg.setAttribute('role', 'img');
  svg.setAttribute('aria-label', 'Wiring map: which outputs each input depends on');
  const text = (x, y, t, anchor) => {
    const e = document.createElementNS(SVG, 'text');
    e.setAttribute('x', x);
    e.setAttribute('y', y);
    e.setAttribute('font-size', '9');
    e.setAttribute('text-anchor', anchor || 'middle');
    e.textContent = t;
    svg.appendChild(e);
  };
  for (let i = 0; i < 32; i += 4) text(left + i * size + size / 2, top - 6, 'DO ' + i);
  text(left + 32 * size + size / 2, top - 6, 'none');
  for (const line of m.lines) {
    const y = top + line.di * size;
    text(left - 4, y + size - 4, 'DI ' + line.di, 'end');
    const row = document.createElementNS(SVG, 'rect');
    row.setAttribute('x', left);
    row.setAttribute('y', y);
    row.setAttribute('width', cols * size);
    row.setAttribute('height', size);
    row.setAttribute('fill', line.di % 2 ? '#f4f4f4' : '#fff');
    svg.appendChild(row);
    const dos = line.do.length ? line.do : [null];
    for (const d of dos) {
      const mark = document.createElementNS(SVG, 'circle');
      const x = left + (d === null ? 32 : d) * size + size / 2;
      mark.setAttribute('cx', x);
      mark.setAttribute('cy', y + size / 2);
      mark.setAttribute('r', size / 2 - 2);
      mark.setAttribute('fill', COLOURS[line.reads] || COLOURS.other);
      mark.dataset.mapDi = line.di;
      mark.dataset.mapDo = d === null ? 'none' : d;
      mark.dataset.reads = line.reads;
      const label = 'DI ' + line.di + ': ' + line.text + (line.remark ? ' (' + line.remark + ')' : '');
      mark.setAttribute('aria-label', label);
      const title = document.createElementNS(SVG, 'title');
      title.textContent = label;
      mark.appendChild(title);
      svg.appendChild(mark);
    }
  }
  const grid = $('#map-grid');
  grid.replaceChildren(svg);
  $('#map-text').textContent = m.text;
  const link = $('#map-download');
  if (link.href) URL.revokeObjectURL(link.href);
  link.href = URL.createObjectURL(new Blob([m.text], { type: 'text/plain' }));
  link.hidden = false;
}

function connect() {
  const ws = new WebSocket((location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/live');
  ws.onopen = () => {
    ws.send(JSON.stringify({ token }));
    live = ws;
  };
  ws.onmessage = (e) => {
    const m = JSON.parse(e.data);
    if (m.type === 'state') show(m);
    else if (m.type === 'map') showMap(m);
    else if (m.type === 'error') alertText(m.error);
  };
  ws.onclose = () => {
    live = null;
    $('#status').textContent = token ? 'disconnected; connecting again…' : 'no token in the URL';
    for (const b of document.querySelectorAll('button')) b.disabled = true;
    setTimeout(connect, 1000);
  };
}

build();
connect();
setInterval(drawTrace, 250);
