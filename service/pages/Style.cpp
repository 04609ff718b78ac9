#include "service/pages/Pages.h"

namespace pellamark::service {

// Sized for the client's 760 x 560 view: nothing wider than the view, long titles and addresses
// cut with an ellipsis, the tags beside the list from 720 pixels on and below it under that.
// Colours are variables so that the dark scheme only swaps them.
std::string_view styleSheet() {
    return R"css(*{box-sizing:border-box}
:root{--text:#1f2328;--muted:#6a737d;--page:#f6f7f9;--card:#fff;--line:#e1e4e8;--field:#c4c9d0;
 --accent:#2d4a7a;--link:#1a4fa0;--danger:#9a2b2b;--danger-line:#d9b3b3;--chip:#e8eef8;
 --current:#fff7d6;color-scheme:light dark}
@media (prefers-color-scheme:dark){:root{--text:#e6e6e6;--muted:#9aa4ae;--page:#15181c;
 --card:#1e2227;--line:#30363d;--field:#48515b;--accent:#3d6098;--link:#8ab4f8;--danger:#f08a8a;
 --danger-line:#6b3a3a;--chip:#27344a;--current:#3a3520}}
html,body{margin:0;padding:0}
body{font:14px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,"Noto Sans","DejaVu Sans",sans-serif;
 color:var(--text);background:var(--page)}
header{background:var(--accent);color:#fff;padding:10px 16px;display:flex;align-items:baseline;
 justify-content:space-between;gap:12px}
header h1{font-size:18px;margin:0;font-weight:600}
header .who{font-size:12px;opacity:.85;overflow:hidden;text-overflow:ellipsis;white-space:nowrap;
 max-width:60%}
.layout{display:grid;grid-template-columns:minmax(0,1fr);gap:0 16px;padding:12px 16px;
 max-width:1200px;margin:0 auto}
@media (min-width:720px){.layout{grid-template-columns:minmax(0,1fr) 190px}}
main{min-width:0}
form{margin:0}
form.add,form.find,form.bulk{display:flex;flex-wrap:wrap;gap:6px;margin:0 0 8px}
input,select,textarea{font:inherit;color:inherit;background:var(--card);padding:5px 8px;
 border:1px solid var(--field);border-radius:4px;min-width:0}
form.add input{flex:1 1 120px}
form.add input[name=url]{flex-grow:1.4}
form.find input[type=search]{flex:1 1 200px}
form.bulk input{flex:0 1 160px}
button{font:inherit;padding:5px 12px;border-radius:4px;border:1px solid var(--accent);
 background:var(--accent);color:#fff;cursor:pointer}
button.quiet{background:var(--card);color:var(--text);border-color:var(--field)}
button.remove{background:var(--card);color:var(--danger);border-color:var(--danger-line);
 padding:3px 10px;font-size:12px}
.filters{margin:0 0 6px;font-size:12px;color:var(--muted)}
a.chip{display:inline-block;background:var(--chip);color:var(--link);border-radius:10px;
 padding:0 8px;margin:0 4px 2px 0;font-size:12px;text-decoration:none;white-space:nowrap;
 max-width:100%;overflow:hidden;text-overflow:ellipsis;vertical-align:bottom}
a.chip:hover{text-decoration:underline}
ul{list-style:none;margin:0;padding:0}
li.fav{display:flex;align-items:center;gap:8px;background:var(--card);border:1px solid var(--line);
 border-radius:6px;padding:6px 10px;margin:0 0 5px}
li.fav.current{background:var(--current);outline:2px solid var(--accent)}
li.fav .text{flex:1;min-width:0}
li.fav a.title{display:block;font-weight:600;color:var(--link);text-decoration:none;overflow:hidden;
 text-overflow:ellipsis;white-space:nowrap}
li.fav a.title:hover{text-decoration:underline}
li.fav .url,li.fav .note{display:block;font-size:12px;color:var(--muted);overflow:hidden;
 text-overflow:ellipsis;white-space:nowrap}
li.fav a.edit{font-size:12px;color:var(--link)}
form.edit{display:grid;grid-template-columns:minmax(0,1fr) minmax(0,1fr);gap:6px;width:100%}
form.edit textarea{grid-column:1/-1;min-height:4em;resize:vertical}
form.edit .actions{grid-column:1/-1;display:flex;gap:8px;align-items:center}
p.empty{color:var(--muted);text-align:center;margin:48px 0}
p.count{color:var(--muted);font-size:12px;margin:0 0 6px}
nav.pages{display:flex;justify-content:space-between;margin:8px 0 16px}
nav.pages a{color:var(--link)}
aside h2{font-size:13px;margin:4px 0 6px;color:var(--muted);font-weight:600}
aside li{display:flex;justify-content:space-between;gap:6px;font-size:13px;min-width:0}
aside li a{color:var(--link);text-decoration:none;overflow:hidden;text-overflow:ellipsis;
 white-space:nowrap}
aside li a.on{font-weight:700}
aside li .n{color:var(--muted);font-size:12px}
aside .d1{padding-left:12px}aside .d2{padding-left:24px}aside .d3{padding-left:36px}
aside .d4{padding-left:48px}
aside details{margin:10px 0;font-size:12px}
aside details.transfer input[type=file]{flex:1 1 100%;width:100%;padding:2px 0;border:0}
aside details.transfer p{margin:4px 0;color:var(--muted)}
aside a.export{color:var(--link)}
.notice{background:var(--current);border:1px solid var(--line);border-radius:4px;padding:6px 10px;
 margin:0 0 8px}
aside details form{display:flex;flex-wrap:wrap;gap:4px;margin:6px 0}
aside details input{flex:1 1 70px;width:70px}
.box{max-width:560px;margin:40px auto;background:var(--card);border:1px solid var(--line);
 border-radius:6px;padding:16px 20px}
.box h1{font-size:18px;margin:0 0 8px}
.box a{color:var(--link)}
)css";
}

} // namespace pellamark::service
