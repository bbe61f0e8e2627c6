#include "gallery/GalleryAssets.h"

namespace qm::gallery {

// Light and dark by the system's choice; system fonts with the usual Chinese faces named first on
// each platform; a grid that gives three columns on a 360 px phone and about eight at 1400 px.
// Tiles skip layout and paint while off screen (content-visibility), so 5,000 of them open fast.
const char kGalleryCss[] = R"CSS(:root {
  --bg: #f4f3ef; --fg: #1d1d1f; --muted: #6e6d72; --card: #fff; --line: #e2e0da;
  --accent: #a4471f; --warn: #b42318;
  font-family: system-ui, -apple-system, "PingFang SC", "Hiragino Sans GB", "Microsoft YaHei",
    "Noto Sans CJK SC", "Source Han Sans SC", "WenQuanYi Micro Hei", sans-serif;
  color-scheme: light dark;
}
@media (prefers-color-scheme: dark) {
  :root { --bg: #161617; --fg: #ececec; --muted: #9c9ba1; --card: #232325; --line: #343437;
    --accent: #e59066; --warn: #ff7b6b; }
}
* { box-sizing: border-box; }
body { margin: 0; background: var(--bg); color: var(--fg); line-height: 1.5;
  -webkit-text-size-adjust: 100%; }
body.open { overflow: hidden; }
header, main { max-width: 1400px; margin: 0 auto; }
header { padding: 20px 16px 14px; }
h1 { font-size: 1.375rem; font-weight: 600; margin: 0; overflow-wrap: anywhere; }
.meta { color: var(--muted); font-size: .875rem; margin: 2px 0 0; }
.missing { margin: 16px; color: var(--muted); font-size: .875rem; }
.missing h2 { font-size: 1rem; color: var(--warn); margin: 0 0 4px; }
.back { color: var(--accent); text-decoration: none; font-size: .9rem; }
.back:hover { text-decoration: underline; }
.warn { display: inline-block; color: var(--warn); border: 1px solid currentColor; border-radius: 4px;
  padding: 0 5px; margin-left: 6px; font-size: .75rem; line-height: 1.5; vertical-align: 1px; }
main { display: grid; padding: 0 16px 40px; }
.albums { grid-template-columns: repeat(auto-fill, minmax(220px, 1fr)); gap: 16px; }
.albums a { display: block; background: var(--card); border-radius: 10px; overflow: hidden;
  color: inherit; text-decoration: none; box-shadow: 0 1px 3px rgba(0, 0, 0, .1); }
.albums a:hover, .albums a:focus-visible { box-shadow: 0 3px 12px rgba(0, 0, 0, .18); }
.cover { display: block; aspect-ratio: 4 / 3; background: var(--line); }
.cover img, .cover i { display: block; width: 100%; height: 100%; object-fit: cover; }
.albums b { display: block; padding: 8px 12px 0; font-weight: 600; white-space: nowrap;
  overflow: hidden; text-overflow: ellipsis; }
.albums .n { display: block; padding: 0 12px 10px; color: var(--muted); font-size: .85rem; }
.grid { grid-template-columns: repeat(auto-fill, minmax(150px, 1fr)); gap: 10px; }
.grid a { display: block; color: inherit; text-decoration: none; min-width: 0;
  content-visibility: auto; contain-intrinsic-size: auto 180px; }
.grid img, .grid i { display: block; width: 100%; aspect-ratio: 1; object-fit: cover; border-radius: 6px;
  background: var(--line); }
.grid a:focus-visible img { outline: 3px solid var(--accent); outline-offset: 1px; }
.grid span { display: block; font-size: .8rem; line-height: 1.4; margin-top: 4px; white-space: nowrap;
  overflow: hidden; text-overflow: ellipsis; }
.grid time { display: block; font-size: .7rem; color: var(--muted, #888); }
i.ph { position: relative; background: var(--line); }
i.ph::after { content: "无法预览"; position: absolute; inset: 0; display: flex; align-items: center;
  justify-content: center; color: var(--muted); font-style: normal; font-size: .8rem; }
.empty { color: var(--muted); }
@media (max-width: 520px) {
  header { padding: 14px 10px 10px; }
  h1 { font-size: 1.2rem; }
  main { padding: 0 8px 24px; }
  .albums { grid-template-columns: repeat(2, minmax(0, 1fr)); gap: 10px; }
  .albums b { padding: 6px 8px 0; font-size: .9rem; }
  .albums .n { padding: 0 8px 8px; font-size: .8rem; }
  .grid { grid-template-columns: repeat(3, minmax(0, 1fr)); gap: 6px; }
  .grid span { font-size: .75rem; }
}
.viewer { position: fixed; inset: 0; z-index: 10; display: flex; flex-direction: column;
  background: #111; color: #eee; touch-action: pan-y; }
.viewer[hidden] { display: none; }
.stage { flex: 1; min-height: 0; display: flex; align-items: center; justify-content: center; padding: 8px; }
.stage img, .stage video { max-width: 100%; max-height: 100%; object-fit: contain; }
.stage [hidden] { display: none; }
.grid a.video { position: relative; }
.grid a.video::after { content: "\25B6"; position: absolute; left: calc(50% - 22px); top: 0;
  margin-top: calc(50% - 22px); width: 44px; height: 44px; border-radius: 22px; background: rgba(0, 0, 0, .55);
  color: #fff; font: 18px/44px sans-serif; text-indent: 3px; text-align: center; pointer-events: none; }
.cap { padding: 10px 16px calc(12px + env(safe-area-inset-bottom)); max-height: 35vh; overflow: auto;
  max-width: 900px; width: 100%; margin: 0 auto; }
.cap b { display: block; font-weight: 600; overflow-wrap: anywhere; }
.cap p { margin: 4px 0 0; color: #c8c8c8; font-size: .9rem; white-space: pre-wrap; overflow-wrap: anywhere; }
.cap p:empty { display: none; }
.pos { display: block; color: #8d8d8d; font-size: .8rem; margin-top: 4px; }
.viewer button { position: absolute; width: 44px; height: 44px; border: 0; border-radius: 22px;
  background: rgba(255, 255, 255, .12); color: #fff; font: 26px/44px sans-serif; cursor: pointer; padding: 0; }
.viewer button:hover { background: rgba(255, 255, 255, .25); }
.viewer .close { top: 10px; right: 10px; }
.viewer .prev, .viewer .next { top: calc(50% - 22px); }
.viewer .prev { left: 10px; }
.viewer .next { right: 10px; }
@media (hover: none) { .viewer .prev, .viewer .next { display: none; } }
)CSS";

// The album page's viewer. The grid's links lead to the pictures themselves, so the page still works
// without the script; the script turns a click into the large view. Descriptions come from the
// page's JSON block (one per tile, in order); every text is set with textContent, never as markup.
const char kGalleryJs[] = R"JS((function () {
  'use strict';
  var grid = document.getElementById('grid');
  if (!grid) return;
  var tiles = grid.children;
  var notes = [];
  try { notes = JSON.parse(document.getElementById('notes').textContent); } catch (e) { notes = []; }
  var viewer, img, film, title, desc, pos, cur = -1, touch = null;

  function make(tag, cls, parent) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    parent.appendChild(e);
    return e;
  }
  function button(cls, text, label, action) {
    var b = make('button', cls, viewer);
    b.type = 'button';
    b.textContent = text;
    b.title = label;
    b.setAttribute('aria-label', label);
    b.addEventListener('click', function (e) { e.stopPropagation(); action(); });
  }
  function build() {
    viewer = make('div', 'viewer', document.body);
    viewer.hidden = true;
    viewer.setAttribute('role', 'dialog');
    var stage = make('div', 'stage', viewer);
    img = make('img', '', stage);
    img.alt = '';
    // A video item plays in the large view, its cover as the poster; nothing loads before it opens.
    film = make('video', '', stage);
    film.controls = true;
    film.preload = 'none';
    film.hidden = true;
    var cap = make('div', 'cap', viewer);
    title = make('b', '', cap);
    desc = make('p', '', cap);
    pos = make('span', 'pos', cap);
    button('close', '\u00d7', '返回 (Esc)', close);
    button('prev', '\u2039', '上一张 (←)', function () { step(-1); });
    button('next', '\u203a', '下一张 (→)', function () { step(1); });
    stage.addEventListener('click', function (e) { if (e.target === stage) close(); });
    viewer.addEventListener('touchstart', function (e) {
      if (e.touches.length === 1) touch = { x: e.touches[0].clientX, y: e.touches[0].clientY };
    }, { passive: true });
    viewer.addEventListener('touchend', function (e) {
      if (!touch || e.changedTouches.length !== 1) return;
      var dx = e.changedTouches[0].clientX - touch.x, dy = e.changedTouches[0].clientY - touch.y;
      touch = null;
      if (Math.abs(dx) > 40 && Math.abs(dx) > Math.abs(dy)) step(dx < 0 ? 1 : -1);
      else if (dy > 80 && dy > Math.abs(dx)) close();
    }, { passive: true });
  }
  function remember(hash) {
    try { history.replaceState(null, '', hash || location.pathname); } catch (e) { /* refused: keep the address */ }
  }
  function show(i) {
    if (i < 0 || i >= tiles.length) return;
    if (!viewer) build();
    cur = i;
    var a = tiles[i];
    reveal(a);
    img.removeAttribute('src');
    stopFilm();
    var f = a.getAttribute('data-film');
    img.hidden = !!f;
    film.hidden = !f;
    if (f) {
      film.poster = a.getAttribute('href');
      film.src = f;
      var p = film.play();
      if (p && p.catch) p.catch(function () { /* refused without a gesture: the controls start it */ });
    } else {
      img.src = a.getAttribute('href');
    }
    title.textContent = a.textContent;
    desc.textContent = typeof notes[i] === 'string' ? notes[i] : '';
    pos.textContent = (i + 1) + ' / ' + tiles.length;
    viewer.hidden = false;
    document.body.classList.add('open');
    remember('#' + (i + 1));
    [i - 1, i + 1].forEach(function (j) {
      if (j >= 0 && j < tiles.length) new Image().src = tiles[j].getAttribute('href');
    });
  }
  function stopFilm() {
    if (!film || !film.getAttribute('src')) return;
    film.pause();
    film.removeAttribute('src');
    film.load();
  }
  function step(d) { if (cur >= 0) show(Math.min(tiles.length - 1, Math.max(0, cur + d))); }
  function close() {
    if (cur < 0) return;
    viewer.hidden = true;
    stopFilm();
    document.body.classList.remove('open');
    var a = tiles[cur];
    cur = -1;
    remember('');
    a.focus({ preventScroll: true });
  }

  grid.addEventListener('click', function (e) {
    if (e.button !== 0 || e.ctrlKey || e.metaKey || e.shiftKey || e.altKey) return;
    var a = e.target.closest('a');
    if (!a || a.parentNode !== grid) return;
    e.preventDefault();
    show(Array.prototype.indexOf.call(tiles, a));
  });
  document.addEventListener('keydown', function (e) {
    if (e.ctrlKey || e.metaKey || e.altKey) return;
    if (cur >= 0) {
      if (e.key === 'ArrowRight' || e.key === 'PageDown' || e.key === ' ') step(1);
      else if (e.key === 'ArrowLeft' || e.key === 'PageUp') step(-1);
      else if (e.key === 'Home') show(0);
      else if (e.key === 'End') show(tiles.length - 1);
      else if (e.key === 'Escape') close();
      else return;
      e.preventDefault();
    } else if (e.key === 'Escape') {
      location.href = grid.getAttribute('data-up');
    }
  });
  // Thumbnails beyond the first screens get their address as their tile comes near the screen.
  function reveal(a) {
    var t = a.querySelector('img[data-src]');
    if (t) { t.src = t.getAttribute('data-src'); t.removeAttribute('data-src'); }
  }
  if ('IntersectionObserver' in window) {
    var io = new IntersectionObserver(function (entries) {
      entries.forEach(function (en) {
        if (en.isIntersecting) { reveal(en.target); io.unobserve(en.target); }
      });
    }, { rootMargin: '1000px 0px' });
    Array.prototype.forEach.call(grid.querySelectorAll('img[data-src]'), function (t) { io.observe(t.parentNode); });
  } else {
    Array.prototype.forEach.call(tiles, reveal);
  }
  var m = /^#(\d+)$/.exec(location.hash);
  if (m) show(parseInt(m[1], 10) - 1);
  document.documentElement.setAttribute('data-ready', String(Math.round(performance.now())));
})();
)JS";

}  // namespace qm::gallery
