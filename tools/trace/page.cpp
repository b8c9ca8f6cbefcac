// SPDX-License-Identifier: MIT
#include "page.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

namespace vu30::trace {
namespace {

// v with a number of decimals, as printf's "%.Nf" writes it (to_chars
// rounds the same way, at a fraction of printf's cost on every mark).
std::string Fixed(double v, int decimals) {
  char buf[400];
  const auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  if (ec == std::errc()) return std::string(buf, end);
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

// A string as a JSON string that is safe inside a script element, appended.
void AppendJson(std::string& to, const std::string& s) {
  to += '"';
  for (const char c : s) {
    switch (c) {
      case '"':
        to += "\\\"";
        break;
      case '\\':
        to += "\\\\";
        break;
      case '\n':
        to += "\\n";
        break;
      case '<':
        to += "\\u003c";
        break;
      case '>':
        to += "\\u003e";
        break;
      case '&':
        to += "\\u0026";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          to += buf;
        } else {
          to += c;
        }
    }
  }
  to += '"';
}

void Html(std::ostream& out, const std::string& s) {
  for (const char c : s) {
    switch (c) {
      case '<':
        out << "&lt;";
        break;
      case '>':
        out << "&gt;";
        break;
      case '&':
        out << "&amp;";
        break;
      case '"':
        out << "&quot;";
        break;
      default:
        out << c;
    }
  }
}

void AppendNumber(std::string& to, std::size_t n) {
  char buf[24];
  to.append(buf, std::to_chars(buf, buf + sizeof buf, n).ptr);
}

constexpr const char* kPageStyle = R"(
body{font:13px system-ui,sans-serif;margin:16px;color:#222}
h1{font-size:18px;margin:0 0 4px}
.meta{color:#555;margin:0 0 8px}
.cap{color:#8a5a00;margin:0 0 8px}
.legend span{display:inline-block;margin-right:14px}
.legend i{display:inline-block;width:10px;height:10px;margin-right:4px;vertical-align:middle}
#nav{margin-top:8px}
#nav button{font:inherit;margin-right:6px}
#where{color:#444;margin-left:6px}
#failures{max-height:120px;overflow:auto;margin:4px 0 0;padding-left:28px;font:12px monospace}
#failures li{cursor:pointer}
#failures li.sel{background:#ffe7a8}
#view{display:flex;border:1px solid #ccc;margin-top:8px}
#lanes{flex:none;width:64px;border-right:1px solid #ccc;padding-top:20px}
.lane{height:22px;line-height:22px;padding-left:6px;color:#444;box-sizing:border-box;
 border-top:1px solid #eee}
#chart{flex:1;display:block;cursor:crosshair}
#tip{position:fixed;pointer-events:none;background:#fffbe6;border:1px solid #aa9;padding:4px 6px;
 max-width:560px;white-space:pre-wrap;display:none;font:12px monospace}
)";

// Draws the lanes on a canvas from the embedded data; wheel zooms (down to
// 1 µs across the view, out to ten times the whole trace), dragging pans,
// hovering shows a mark's words and detail; n and p, or the buttons and the
// list, centre the view on the next or previous failure.
constexpr const char* kPageScript = R"(
(function(){
const D=JSON.parse(document.getElementById('trace-data').textContent);
const colors=D.colors, cv=document.getElementById('chart'), tip=document.getElementById('tip');
const LANE=22, TOP=20, MIN_SPAN=1, FOCUS=1e6, lanes=D.posts.map(()=>[]);
for(const m of D.marks) lanes[m[0]].push(m);
const whole=Math.max(D.t1-D.t0,MIN_SPAN), pad=whole*0.01, home=[D.t0-pad, D.t0+whole+pad];
const MAX_SPAN=(home[1]-home[0])*10;
let [t0,t1]=home, drag=null, sel=-1;
const W=()=>cv.clientWidth, x=t=>(t-t0)/(t1-t0)*W();
function first(ms,t){let lo=0,hi=ms.length;while(lo<hi){const k=(lo+hi)>>1;if(ms[k][1]<t)lo=k+1;else hi=k;}return lo;}
// The view from a over span, the span kept within its bounds.
function show(a,span){span=Math.min(Math.max(span,MIN_SPAN),MAX_SPAN);t0=a;t1=a+span;draw();}
function draw(){
 const dpr=window.devicePixelRatio||1;cv.width=W()*dpr;cv.height=(TOP+LANE*lanes.length)*dpr;
 cv.style.height=(TOP+LANE*lanes.length)+'px';const g=cv.getContext('2d');g.scale(dpr,dpr);
 // The axis: four to forty ticks, counted, so that it ends whatever the numbers are.
 g.fillStyle='#888';g.font='11px sans-serif';
 const step=Math.pow(10,Math.floor(Math.log10((t1-t0)/4)));
 const digits=Math.min(9,Math.max(0,6-Math.floor(Math.log10(step)))),k0=Math.ceil(t0/step);
 for(let k=0;k<40;k++){const t=(k0+k)*step;if(!(t<t1))break;
  let s=(t/1e6).toFixed(digits);if(digits>0)s=s.replace(/0+$/,'').replace(/\.$/,'');
  g.fillRect(x(t),TOP-4,1,4);g.fillText(s+' s',x(t)+2,TOP-6);}
 // Per pixel column the most severe outcome, so that a failure among many
 // good exchanges stays visible however far out the view is.
 const w=Math.ceil(W()),worst=new Int8Array(w+1);
 lanes.forEach((ms,i)=>{const y=TOP+i*LANE;g.fillStyle=i%2?'#fafafa':'#fff';g.fillRect(0,y,W(),LANE);
  g.fillStyle='rgba(150,120,200,0.3)';
  for(const s of D.gaps)if((s[0]===i||s[0]<0)&&s[1]<=t1&&s[1]+s[2]>=t0){const a=Math.max(0,x(s[1]));
   g.fillRect(a,y,Math.max(2,Math.min(W(),x(s[1]+s[2]))-a),LANE);}
  worst.fill(-1);
  for(let k=first(ms,t0);k<ms.length&&ms[k][1]<=t1;k++){const m=ms[k];
   const a=Math.max(0,Math.floor(x(m[1]))),b=Math.min(w,Math.floor(x(m[1]+m[2])));
   for(let p=a;p<=b;p++)if(worst[p]<0||D.severity[m[3]]>D.severity[worst[p]])worst[p]=m[3];}
  for(let p=0;p<=w;p++)if(worst[p]>=0){g.fillStyle=colors[worst[p]];g.fillRect(p,y+4,2,LANE-8);}});
 if(sel>=0){const m=D.marks[D.failures[sel]];g.fillStyle='#000';
  g.fillRect(Math.round(x(m[1]+m[2]/2)),TOP+m[0]*LANE,1,LANE);}
}
const items=Array.from(document.querySelectorAll('#failures li')),where=document.getElementById('where');
// Centres the view on failure k, narrowed to a second when wider.
function go(k){const n=D.failures.length;if(!n)return;sel=Math.min(Math.max(k,0),n-1);
 const m=D.marks[D.failures[sel]],span=Math.max(Math.min(t1-t0,FOCUS),m[2]*4);
 items.forEach((li,i)=>{li.className=i===sel?'sel':'';});
 if(items[sel]&&items[sel].scrollIntoView)items[sel].scrollIntoView({block:'nearest'});
 where.textContent='failure '+(sel+1)+' of '+n+': post '+D.posts[m[0]]+' '+(m[1]/1e6).toFixed(6)+' s '+D.texts[m[4]];
 show(m[1]+m[2]/2-Math.max(span,MIN_SPAN)/2,span);}
document.getElementById('next-failure').addEventListener('click',()=>go(sel+1));
document.getElementById('previous-failure').addEventListener('click',()=>go(sel<0?D.failures.length-1:sel-1));
document.getElementById('failures').addEventListener('click',ev=>{const li=ev.target&&ev.target.closest?ev.target.closest('li'):null;
 if(li)go(Number(li.dataset.k));});
window.addEventListener('keydown',ev=>{if(ev.key==='n'||ev.key==='N')go(sel+1);
 else if(ev.key==='p'||ev.key==='P')go(sel<0?D.failures.length-1:sel-1);});
function at(ev){const r=cv.getBoundingClientRect(),px=ev.clientX-r.left,i=Math.floor((ev.clientY-r.top-TOP)/LANE);
 if(i<0||i>=lanes.length)return null;const ms=lanes[i],t=t0+px/W()*(t1-t0);let k=first(ms,t),best=null,bd=5;
 for(const j of [k-1,k,k+1]){if(j<0||j>=ms.length)continue;const d=Math.abs(x(ms[j][1])-px);if(d<bd){bd=d;best=ms[j];}}return best;}
cv.addEventListener('mousemove',ev=>{if(drag){const dt=(drag.x-ev.clientX)/W()*(t1-t0);show(drag.t0+dt,t1-t0);return;}
 const m=at(ev);if(!m){tip.style.display='none';return;}
 tip.textContent='post '+D.posts[m[0]]+'  '+(m[1]/1e6).toFixed(6)+' s\n'+D.texts[m[4]]+'\n'+D.texts[m[5]]+'\nline '+m[6]+(m.length>7?'\nmessage→answer '+m[7].toFixed(1)+' µs':'');
 tip.style.display='block';tip.style.left=(ev.clientX+12)+'px';tip.style.top=(ev.clientY+12)+'px';});
cv.addEventListener('mouseleave',()=>{tip.style.display='none';drag=null;});
cv.addEventListener('mousedown',ev=>{drag={x:ev.clientX,t0};});
window.addEventListener('mouseup',()=>{drag=null;});
cv.addEventListener('wheel',ev=>{ev.preventDefault();const r=cv.getBoundingClientRect(),f=ev.deltaY>0?1.25:0.8,
 at=(ev.clientX-r.left)/W(),t=t0+at*(t1-t0),span=Math.min(Math.max((t1-t0)*f,MIN_SPAN),MAX_SPAN);
 show(t-at*span,span);},{passive:false});
cv.addEventListener('dblclick',()=>{show(home[0],home[1]-home[0]);});
window.addEventListener('resize',draw);draw();
})();
)";

struct Colour {
  Outcome outcome;
  const char* css;
  int severity;  // the one drawn where marks share a pixel
};
constexpr Colour kColours[] = {
    {Outcome::Good, "#2e8b57", 1},    {Outcome::Rejected, "#e08a00", 5},
    {Outcome::Failed, "#d03030", 6},  {Outcome::Fault, "#8b008b", 7},
    {Outcome::Refused, "#3070d0", 4}, {Outcome::Ignored, "#999999", 2},
    {Outcome::Setup, "#c8c8c8", 0},   {Outcome::Unknown, "#b39ddb", 3},
};

struct Mark {
  int post;
  double t;
  double dur;
  std::size_t colour;
  std::size_t text;
  std::size_t detail;
  std::size_t line;
  std::optional<double> answerUs;
  bool failure;
};

struct Gap {
  int post;
  double t;
  double dur;
};

}  // namespace

void WriteHtml(std::ostream& out, TraceInput& reader, const ShowFilter& filter,
               const std::string& title, const PageLimits& limits) {
  // What is drawn, gathered first and bounded: texts once each.
  std::vector<Mark> marks;
  std::vector<Gap> gaps;
  std::unordered_map<std::string, std::size_t> textIndex;
  std::vector<const std::string*> texts;
  const auto indexOf = [&](const std::string& s) {
    // Looked up before a copy of the text is made for the index.
    const auto [it, added] = textIndex.try_emplace(s, texts.size());
    if (added) texts.push_back(&it->first);
    return it->second;
  };
  uint64_t exchanges = 0;
  uint64_t failures = 0;
  uint64_t failuresDrawn = 0;
  uint64_t failuresAfter = 0;  // drawn beyond the exchanges drawn in full
  uint64_t spans = 0;
  std::optional<double> drawnToUs;  // set when exchanges are left out: the last drawn in full
  Explainer explainer(reader);
  while (const Exchange* next = explainer.Next()) {
    const Exchange& e = *next;
    if (!filter.Passes(e)) continue;
    if (e.dropped) {
      if (++spans <= limits.spans) gaps.push_back({e.post, e.t, e.dur});
      continue;
    }
    ++exchanges;
    failures += e.IsFailure();
    if (marks.size() >= limits.marks && !drawnToUs) {
      drawnToUs = marks.empty() ? e.t : marks.back().t;
      // Beyond, only failures are drawn.
      explainer.DetailOfFailuresOnly();
      explainer.TextsOfFailuresOnly();
    }
    if (marks.size() >= limits.marks) {
      if (!e.IsFailure() || failuresAfter >= limits.failures) continue;
      ++failuresAfter;
    }
    failuresDrawn += e.IsFailure();
    std::size_t colour = 0;
    while (kColours[colour].outcome != e.outcome) ++colour;
    marks.push_back({e.post, e.t, e.dur, colour, indexOf(e.text), indexOf(e.detail),
                     e.lines.empty() ? 0 : e.lines.front(), e.answerUs, e.IsFailure()});
  }

  // In time order for the page's search, late records included.
  std::stable_sort(marks.begin(), marks.end(),
                   [](const Mark& a, const Mark& b) { return a.t < b.t; });
  std::vector<int> posts;
  for (const Mark& m : marks) posts.push_back(m.post);
  for (const Gap& g : gaps) {
    if (g.post != kAllPosts) posts.push_back(g.post);
  }
  std::sort(posts.begin(), posts.end());
  posts.erase(std::unique(posts.begin(), posts.end()), posts.end());
  std::map<int, std::size_t> laneOf;
  for (std::size_t i = 0; i < posts.size(); ++i) laneOf[posts[i]] = i;

  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>vu30 trace: ";
  Html(out, title);
  out << "</title>\n<style>" << kPageStyle << "</style></head>\n<body>\n<h1>vu30 line trace: ";
  Html(out, title);
  out << "</h1>\n<p class=\"meta\">library ";
  Html(out, reader.Library());
  out << ", started ";
  Html(out, reader.Start());
  out << "; " << reader.Records() << " records, " << exchanges << " exchanges, " << failures
      << " failures, " << reader.Dropped() << " dropped";
  for (const std::string& note : TraceNotes(reader, explainer)) {
    out << "; ";
    Html(out, note);
  }
  out << ". Wheel: zoom; drag: move; double click: all; n, p: next, previous failure.</p>\n";
  if (drawnToUs || failuresDrawn < failures || spans > gaps.size()) {
    out << "<p class=\"cap\">This page draws " << marks.size() << " of " << exchanges
        << " exchanges";
    if (drawnToUs) out << ": all up to " << Fixed(*drawnToUs / 1e6, 6) << " s";
    out << ", and " << failuresDrawn << " of " << failures << " failures";
    if (spans > gaps.size())
      out << "; it shades " << gaps.size() << " of " << spans << " dropped spans";
    out << ". For another window: vu30-trace html FILE --from T --to T -o PAGE.</p>\n";
  }
  out << "<div class=\"legend\">";
  for (const Colour& c : kColours) {
    out << "<span><i style=\"background:" << c.css << "\"></i>" << OutcomeName(c.outcome)
        << "</span>";
  }
  out << "<span><i style=\"background:rgba(150,120,200,0.3)\"></i>records dropped</span>";
  out << "</div>\n<div id=\"nav\"><button id=\"previous-failure\" type=\"button\">◀ previous "
         "failure</button><button id=\"next-failure\" type=\"button\">next failure "
         "▶</button><span id=\"where\">"
      << failuresDrawn << (failuresDrawn == 1 ? " failure" : " failures")
      << "</span>\n<ol id=\"failures\">\n";
  std::size_t k = 0;
  for (const Mark& m : marks) {
    if (!m.failure) continue;
    out << "<li data-k=\"" << k++ << "\">" << Fixed(m.t / 1e6, 6) << " s  post " << m.post
        << "  line " << m.line << "  ";
    Html(out, *texts[m.text]);
    out << "</li>\n";
  }
  out << "</ol></div>\n<div id=\"view\"><div id=\"lanes\">\n";
  for (int post : posts)
    out << "<div class=\"lane\" data-post=\"" << post << "\">post " << post << "</div>\n";
  out << "</div><canvas id=\"chart\"></canvas></div>\n<div id=\"tip\"></div>\n";

  // The data: marks as [lane, t, dur, colour, text, detail, line(, answer)];
  // failures as places among the marks; gaps as [lane or -1, t, dur].
  const double t0 = marks.empty() ? 0 : marks.front().t;
  double t1 = t0;
  for (const Mark& m : marks) t1 = std::max(t1, m.t + m.dur);
  out << "<script type=\"application/json\" id=\"trace-data\">{\"t0\":" << Fixed(t0, 3)
      << ",\"t1\":" << Fixed(t1, 3) << ",\"colors\":[";
  for (std::size_t i = 0; i < std::size(kColours); ++i)
    out << (i ? "," : "") << '"' << kColours[i].css << '"';
  out << "],\"severity\":[";
  for (std::size_t i = 0; i < std::size(kColours); ++i)
    out << (i ? "," : "") << kColours[i].severity;
  out << "],\"posts\":[";
  for (std::size_t i = 0; i < posts.size(); ++i) out << (i ? "," : "") << posts[i];
  out << "],\"failures\":[";
  k = 0;
  for (std::size_t i = 0; i < marks.size(); ++i) {
    if (marks[i].failure) out << (k++ ? "," : "") << i;
  }
  out << "],\"gaps\":[";
  for (std::size_t i = 0; i < gaps.size(); ++i) {
    const Gap& g = gaps[i];
    out << (i ? "," : "") << '[' << (g.post == kAllPosts ? -1 : static_cast<long>(laneOf[g.post]))
        << ',' << Fixed(g.t, 3) << ',' << Fixed(g.dur, 3) << ']';
  }
  out << "],\"marks\":[";
  std::string block;
  for (std::size_t i = 0; i < marks.size(); ++i) {
    const Mark& m = marks[i];
    block += i ? ",\n[" : "[";
    AppendNumber(block, laneOf[m.post]);
    block += ',';
    block += Fixed(m.t, 3);
    block += ',';
    block += Fixed(m.dur, 3);
    for (const std::size_t n : {m.colour, m.text, m.detail, m.line}) {
      block += ',';
      AppendNumber(block, n);
    }
    if (m.answerUs) {
      block += ',';
      block += Fixed(*m.answerUs, 3);
    }
    block += ']';
    WriteIfFull(out, block);
  }
  block += "],\"texts\":[";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i) block += ",\n";
    AppendJson(block, *texts[i]);
    WriteIfFull(out, block);
  }
  out << block << "]}</script>\n<script>" << kPageScript << "</script>\n</body></html>\n";
}

}  // namespace vu30::trace
