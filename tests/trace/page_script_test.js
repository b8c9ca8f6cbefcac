// SPDX-License-Identifier: MIT
// Runs the script of a vu30-trace page (the file named by the first argument)
// in Node against a stand-in for the browser's document and canvas: zooming
// far in stops at its bound with ticks that still differ and ends every
// drawing; n and p centre the view on the next and previous failure.
'use strict';
const fs = require('fs');
const vm = require('vm');

const html = fs.readFileSync(process.argv[2], 'utf8');
const data = html.match(/<script type="application\/json" id="trace-data">([\s\S]*?)<\/script>/)[1];
const scripts = [...html.matchAll(/<script>([\s\S]*?)<\/script>/g)];
const code = scripts[scripts.length - 1][1];

function fail(what) {
  console.error('page script: ' + what);
  process.exit(1);
}

// What the last drawing drew.
let frame = {rects: [], labels: []};
let operations = 0;
const context = {
  fillStyle: '', font: '',
  scale() { frame = {rects: [], labels: []}; operations = 0; },
  fillRect(x, y, w, h) {
    if (++operations > 1e6) throw new Error('a drawing that does not end');
    frame.rects.push({style: this.fillStyle, x, y, w, h});
  },
  fillText(s) {
    if (++operations > 1e6) throw new Error('a drawing that does not end');
    frame.labels.push(s);
  },
};
function element() {
  return {
    listeners: {}, style: {}, textContent: '', className: '', clientWidth: 1000, width: 0, height: 0,
    addEventListener(type, f) { (this.listeners[type] = this.listeners[type] || []).push(f); },
    getBoundingClientRect() { return {left: 0, top: 0}; },
    getContext() { return context; },
  };
}
const elements = {};
const document = {
  getElementById(id) { return elements[id] = elements[id] || element(); },
  querySelectorAll() { return []; },
};
document.getElementById('trace-data').textContent = data;
const window = element();
window.devicePixelRatio = 1;
function fire(target, type, event) {
  for (const f of target.listeners[type] || []) f(Object.assign({preventDefault() {}}, event));
}

try {
  vm.runInNewContext(code, {document, window, Math, JSON, Number, Array, Int8Array});
  const chart = document.getElementById('chart');
  const labelsDiffer = () => frame.labels.length >= 2 && new Set(frame.labels).size === frame.labels.length;
  for (let notch = 0; notch < 300; ++notch) fire(chart, 'wheel', {clientX: 500, clientY: 30, deltaY: -100});
  if (!labelsDiffer()) fail('zoomed far in, the ticks read ' + JSON.stringify(frame.labels));
  for (let notch = 0; notch < 300; ++notch) fire(chart, 'wheel', {clientX: 500, clientY: 30, deltaY: 100});
  if (!labelsDiffer()) fail('zoomed far out, the ticks read ' + JSON.stringify(frame.labels));

  const D = JSON.parse(data);
  const where = document.getElementById('where');
  const centred = () => frame.rects.some((r) => r.style === '#000' && Math.abs(r.x - 500) <= 1);
  const steps = [['n', 1], ['n', 2], ['p', 1]];
  for (const [key, k] of steps) {
    fire(window, 'keydown', {key});
    if (!where.textContent.startsWith('failure ' + k + ' of ' + D.failures.length)) {
      fail('after ' + key + ': ' + where.textContent);
    }
    if (!centred()) fail('failure ' + k + ' is not in the middle of the view');
  }
  fire(document.getElementById('next-failure'), 'click', {});
  if (!where.textContent.startsWith('failure 2 of')) fail('the next button: ' + where.textContent);
} catch (e) {
  fail(e.message);
}
