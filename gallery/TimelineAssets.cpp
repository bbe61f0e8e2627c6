#include "gallery/Timeline.h"

namespace qm::gallery {

// Beside gallery.css (colours, header, viewer): one column of posts, at most 720 px wide; on a
// phone the same column fills the screen. Posts off screen skip layout and paint.
const char kTimelineCss[] = R"CSS(.tl header, .tl main { max-width: 720px; }
.tl main { display: block; padding: 0 12px 24px; }
#q { display: block; width: 100%; margin: 12px 0 0; padding: 8px 12px; font: inherit; color: inherit;
  background: var(--card); border: 1px solid var(--line); border-radius: 8px; }
#q:focus { outline: 2px solid var(--accent); outline-offset: 0; }
#found:empty { display: none; }
.years { display: flex; flex-wrap: wrap; gap: 6px; margin-top: 10px; }
.years a { color: var(--accent); text-decoration: none; font-size: .875rem; padding: 2px 10px;
  border: 1px solid var(--line); border-radius: 14px; background: var(--card); }
.years small { color: var(--muted); margin-left: 4px; }
.post { background: var(--card); border-radius: 10px; padding: 12px 14px; margin: 0 0 12px;
  box-shadow: 0 1px 3px rgba(0, 0, 0, .08); content-visibility: auto; contain-intrinsic-size: auto 220px; }
.post > time { display: block; color: var(--muted); font-size: .8rem; }
.post .text { margin: 6px 0 0; white-space: pre-wrap; overflow-wrap: anywhere; }
.post .cut { margin: 4px 0 0; color: var(--warn); font-size: .8rem; }
.post .rt { margin: 8px 0 0; padding: 6px 10px; border-left: 3px solid var(--line); color: var(--muted);
  white-space: pre-wrap; overflow-wrap: anywhere; }
.post .pics { display: grid; grid-template-columns: repeat(3, minmax(0, 1fr)); gap: 4px; margin-top: 8px;
  max-width: 420px; }
.post .pics img, .post .pics i { display: block; width: 100%; aspect-ratio: 1; object-fit: cover;
  border-radius: 4px; background: var(--line); }
.post .place { margin: 6px 0 0; color: var(--muted); font-size: .85rem; overflow-wrap: anywhere; }
.post .place::before { content: "\1F4CD "; }
.cmts { list-style: none; margin: 8px 0 0; padding: 6px 10px; background: var(--bg); border-radius: 6px;
  font-size: .875rem; }
.cmts ul { list-style: none; margin: 2px 0 0; padding-left: 14px; border-left: 2px solid var(--line); }
.cmts li { margin: 3px 0; overflow-wrap: anywhere; }
.cmts b { font-weight: 600; margin-right: 6px; }
.cmts span { white-space: pre-wrap; }
.cmts time { color: var(--muted); font-size: .75rem; margin-left: 6px; }
@media (max-width: 520px) {
  .tl main { padding: 0 6px 16px; }
  .post { padding: 10px; border-radius: 8px; }
  .post .pics { max-width: none; }
}
)CSS";

// The timeline: the first posts are in the page; the others are made from the JSON block as the
// end of the list comes near the screen. The search box (and "#q=words" in the address) filters
// posts by their text, repost, place and comments; the year index jumps. Every text is set with
// textContent, never as markup. A thumbnail opens the large view over the pictures of its post.
const char kTimelineJs[] = R"JS((function () {
  'use strict';
  var list = document.getElementById('posts');
  if (!list) return;
  var data = [];
  try { data = JSON.parse(document.getElementById('data').textContent); } catch (e) { data = []; }
  var done = parseInt(list.getAttribute('data-shown'), 10) || 0;
  var view = null, blobs = null, STEP = 30;
  var more = document.getElementById('more'), found = document.getElementById('found');
  var q = document.getElementById('q');

  function el(tag, cls, parent, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    parent.appendChild(e);
    return e;
  }
  function comment(c, parent) {
    var li = el('li', '', parent);
    el('b', '', li, c[0]);
    el('span', '', li, c[2]);
    el('time', '', li, c[1]);
    if (c[3] && c[3].length) {
      var ul = el('ul', '', li);
      c[3].forEach(function (r) { comment(r, ul); });
    }
  }
  function post(i) {
    var d = data[i], a = document.createElement('article');
    a.className = 'post';
    a.id = 'p' + i;
    el('time', '', a, d[0]);
    if (d[2]) el('p', 'text', a, d[2]);
    if (d[5]) el('p', 'cut', a, '（全文未能取到）');
    if (d[3]) el('blockquote', 'rt', a, d[3]);
    if (d[6].length) {
      var pics = el('div', 'pics', a);
      d[6].forEach(function (p) {
        var l = el('a', '', pics);
        l.setAttribute('href', p[0]);
        if (p[1]) {
          var im = el('img', '', l);
          im.setAttribute('loading', 'lazy');
          im.setAttribute('decoding', 'async');
          im.alt = '';
          im.setAttribute('src', p[1]);
        } else {
          el('i', 'ph', l);
        }
      });
    }
    if (d[4]) el('p', 'place', a, d[4]);
    if (d[7].length) {
      var ul = el('ul', 'cmts', a);
      d[7].forEach(function (c) { comment(c, ul); });
    }
    return a;
  }
  function total() { return view ? view.length : data.length; }
  function grow(upTo) {
    var n = Math.min(total(), upTo);
    if (done >= n) return;
    var frag = document.createDocumentFragment();
    for (; done < n; ++done) frag.appendChild(post(view ? view[done] : done));
    list.appendChild(frag);
  }
  var io = null;
  function watch() {
    // Observing again reports at once whether the end of the list is still near the screen.
    if (io) { io.unobserve(more); io.observe(more); }
  }
  if ('IntersectionObserver' in window) {
    io = new IntersectionObserver(function (entries) {
      if (entries.some(function (e) { return e.isIntersecting; }) && done < total()) {
        grow(done + STEP);
        watch();
      }
    }, { rootMargin: '1500px 0px' });
    io.observe(more);
  } else {
    grow(data.length);
  }

  function blob(d) {
    var s = [d[2], d[3], d[4]];
    d[7].forEach(function (c) {
      s.push(c[0], c[2]);
      (c[3] || []).forEach(function (r) { s.push(r[0], r[2]); });
    });
    return s.join('\n').toLowerCase();
  }
  function search(text) {
    text = text.trim().toLowerCase();
    list.textContent = '';
    done = 0;
    if (!text) {
      view = null;
      found.textContent = '';
    } else {
      if (!blobs) blobs = data.map(blob);
      view = [];
      for (var i = 0; i < data.length; ++i) if (blobs[i].indexOf(text) >= 0) view.push(i);
      found.textContent = '找到 ' + view.length + ' 条';
    }
    grow(STEP);
    watch();
  }
  var timer = 0;
  q.addEventListener('input', function () {
    clearTimeout(timer);
    timer = setTimeout(function () {
      search(q.value);
      try { history.replaceState(null, '', q.value.trim() ? '#q=' + encodeURIComponent(q.value.trim()) : location.pathname); } catch (e) { /* keep the address */ }
    }, 120);
  });
  function jump(i) {
    if (view) { q.value = ''; search(''); }
    grow(i + STEP);
    var p = document.getElementById('p' + i);
    if (p) p.scrollIntoView();
    watch();
  }
  document.getElementById('years').addEventListener('click', function (e) {
    var a = e.target.closest('a[data-i]');
    if (!a) return;
    e.preventDefault();
    jump(parseInt(a.getAttribute('data-i'), 10));
  });

  // The large view: the pictures of one post, one at a time.
  var viewer, img, pos, pics = [], cur = -1;
  function button(cls, text, label, action) {
    var b = el('button', cls, viewer, text);
    b.type = 'button';
    b.title = label;
    b.setAttribute('aria-label', label);
    b.addEventListener('click', function (e) { e.stopPropagation(); action(); });
  }
  function build() {
    viewer = el('div', 'viewer', document.body);
    viewer.hidden = true;
    viewer.setAttribute('role', 'dialog');
    var stage = el('div', 'stage', viewer);
    img = el('img', '', stage);
    img.alt = '';
    var cap = el('div', 'cap', viewer);
    pos = el('span', 'pos', cap);
    button('close', '\u00d7', '返回 (Esc)', close);
    button('prev', '\u2039', '上一张 (←)', function () { show(cur - 1); });
    button('next', '\u203a', '下一张 (→)', function () { show(cur + 1); });
    stage.addEventListener('click', function (e) { if (e.target === stage) close(); });
  }
  function show(i) {
    if (i < 0 || i >= pics.length) return;
    if (!viewer) build();
    cur = i;
    img.removeAttribute('src');
    img.src = pics[i].getAttribute('href');
    pos.textContent = (i + 1) + ' / ' + pics.length;
    viewer.hidden = false;
    document.body.classList.add('open');
  }
  function close() {
    if (cur < 0) return;
    viewer.hidden = true;
    document.body.classList.remove('open');
    var a = pics[cur];
    cur = -1;
    if (a) a.focus({ preventScroll: true });
  }
  list.addEventListener('click', function (e) {
    if (e.button !== 0 || e.ctrlKey || e.metaKey || e.shiftKey || e.altKey) return;
    var a = e.target.closest('.pics a');
    if (!a) return;
    e.preventDefault();
    pics = Array.prototype.slice.call(a.parentNode.children);
    show(pics.indexOf(a));
  });
  document.addEventListener('keydown', function (e) {
    if (cur < 0 || e.ctrlKey || e.metaKey || e.altKey) return;
    if (e.key === 'ArrowRight') show(cur + 1);
    else if (e.key === 'ArrowLeft') show(cur - 1);
    else if (e.key === 'Escape') close();
    else return;
    e.preventDefault();
  });

  var m = /^#q=(.*)$/.exec(location.hash);
  if (m) {
    try { q.value = decodeURIComponent(m[1]); } catch (e) { q.value = ''; }
    search(q.value);
  } else if ((m = /^#p(\d+)$/.exec(location.hash))) {
    jump(parseInt(m[1], 10));
  }
  document.documentElement.setAttribute('data-ready', String(Math.round(performance.now())));
})();
)JS";

}  // namespace qm::gallery
