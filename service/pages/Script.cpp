#include "service/pages/Pages.h"

namespace pellamark::service {

// Only makes the page quicker to use: every action is also a form or a link. Search as you type
// fetches the page for the new query and takes its results; the keys move a highlight over the
// favourites.
std::string_view script() {
    return R"js('use strict';
(function () {
  const find = document.querySelector('form.find');
  const box = find && find.querySelector('input[name=q]');
  let current = -1;
  let asked = 0;
  let timer = 0;

  function items() { return Array.from(document.querySelectorAll('#results li.fav')); }

  function highlight(index) {
    const all = items();
    if (all.length === 0) { current = -1; return; }
    current = Math.max(0, Math.min(index, all.length - 1));
    all.forEach((item, i) => item.classList.toggle('current', i === current));
    all[current].scrollIntoView({block: 'nearest'});
  }

  function addressOf(form) {
    const address = new URL(form.getAttribute('action'), location.href);
    address.search = new URLSearchParams(new FormData(form)).toString();
    return address;
  }

  async function searchNow() {
    const address = addressOf(find);
    const mine = ++asked;
    const response = await fetch(address, {credentials: 'same-origin'});
    if (mine !== asked || !response.ok) return;
    const page = new DOMParser().parseFromString(await response.text(), 'text/html');
    if (mine !== asked) return;
    for (const id of ['results', 'filters']) {
      const fresh = page.getElementById(id);
      const shown = document.getElementById(id);
      if (fresh && shown) shown.replaceWith(fresh);
    }
    history.replaceState(null, '', address);
    current = -1;
  }

  if (box) {
    box.addEventListener('input', () => {
      clearTimeout(timer);
      timer = setTimeout(() => { searchNow().catch(() => {}); }, 150);
    });
  }

  document.addEventListener('keydown', (event) => {
    if (event.ctrlKey || event.metaKey || event.altKey) return;
    const typing = event.target.closest('input, textarea, select');
    if (typing) {
      if (event.key === 'Escape') event.target.blur();
      else if (event.target === box && event.key === 'ArrowDown') { box.blur(); highlight(0); event.preventDefault(); }
      return;
    }
    const all = items();
    const item = all[current];
    switch (event.key) {
    case '/':
      if (box) { box.focus(); box.select(); event.preventDefault(); }
      break;
    case 'j': case 'ArrowDown':
      highlight(current + 1); event.preventDefault();
      break;
    case 'k': case 'ArrowUp':
      highlight(current - 1); event.preventDefault();
      break;
    case 'Enter':
      if (item && event.target === document.body) { item.querySelector('a.title').click(); event.preventDefault(); }
      break;
    case 'e':
      if (item && item.querySelector('a.edit')) location.href = item.querySelector('a.edit').href;
      break;
    case 'x':
      if (item && item.querySelector('input.pick')) item.querySelector('input.pick').click();
      break;
    }
  });
})();
)js";
}

} // namespace pellamark::service
