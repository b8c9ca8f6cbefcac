#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <unordered_map>

namespace vu30::trace {
namespace {

std::string Format(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

void WriteNotes(std::ostream& out, const Trace& trace) {
  for (const std::string& note : trace.notes) out << "note: " << note << '\n';
  if (trace.dropped > 0) {
    out << "note: " << trace.dropped << " records were dropped (the writer could not keep up)\n";
  }
  if (!trace.closed && trace.notes.empty()) out << "note: the trace was not closed\n";
}

// A string as a JSON string that is safe inside a script element.
void Json(std::ostream& out, const std::string& s) {
  out << '"';
  for (const char c : s) {
    switch (c) {
      case '"':
        out << "\\\"";
        break;
      case '\\':
        out << "\\\\";
        break;
      case '\n':
        out << "\\n";
        break;
      case '<':
        out << "\\u003c";
        break;
      case '>':
        out << "\\u003e";
        break;
      case '&':
        out << "\\u0026";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out << buf;
        } else {
          out << c;
        }
    }
  }
  out << '"';
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

constexpr const char* kPageStyle = R"(
body{font:13px system-ui,sans-serif;margin:16px;color:#222}
h1{font-size:18px;margin:0 0 4px}
.meta{color:#555;margin:0 0 8px}
.legend span{display:inline-block;margin-right:14px}
.legend i{display:inline-block;width:10px;height:10px;margin-right:4px;vertical-align:middle}
#view{display:flex;border:1px solid #ccc;margin-top:8px}
#lanes{flex:none;width:64px;border-right:1px solid #ccc;padding-top:20px}
.lane{height:22px;line-height:22px;padding-left:6px;color:#444;box-sizing:border-box;
 border-top:1px solid #eee}
#chart{flex:1;display:block;cursor:crosshair}
#tip{position:fixed;pointer-events:none;background:#fffbe6;border:1px solid #aa9;padding:4px 6px;
 max-width:560px;white-space:pre-wrap;display:none;font:12px monospace}
)";

// Draws the lanes on a canvas from the embedded data; wheel zooms, dragging
// pans, hovering shows a mark's words and detail.
constexpr const char* kPageScript = R"(
(function(){
const D=JSON.parse(document.getElementById('trace-data').textContent);
const colors=D.colors, cv=document.getElementById('chart'), tip=document.getElementById('tip');
const LANE=22, TOP=20, lanes=D.posts.map(()=>[]);
for(const m of D.marks) lanes[m[0]].push(m);
const pad=(Math.max(D.t1,D.t0+1)-D.t0)*0.01, home=[D.t0-pad, Math.max(D.t1,D.t0+1)+pad];
let [t0,t1]=home, drag=null;
const W=()=>cv.clientWidth, x=t=>(t-t0)/(t1-t0)*W();
function first(ms,t){let lo=0,hi=ms.length;while(lo<hi){const k=(lo+hi)>>1;if(ms[k][1]<t)lo=k+1;else hi=k;}return lo;}
function draw(){
 const dpr=window.devicePixelRatio||1;cv.width=W()*dpr;cv.height=(TOP+LANE*lanes.length)*dpr;
 cv.style.height=(TOP+LANE*lanes.length)+'px';const g=cv.getContext('2d');g.scale(dpr,dpr);
 g.fillStyle='#888';g.font='11px sans-serif';const step=Math.pow(10,Math.floor(Math.log10((t1-t0)/4)));
 for(let t=Math.ceil(t0/step)*step;t<t1;t+=step){g.fillRect(x(t),TOP-4,1,4);g.fillText((t/1e6).toFixed(6).replace(/0+$/,'').replace(/\.$/,'')+' s',x(t)+2,TOP-6);}
 // Per pixel column the most severe outcome, so that a failure among many
 // good exchanges stays visible however far out the view is.
 const w=Math.ceil(W()),worst=new Int8Array(w+1);
 lanes.forEach((ms,i)=>{const y=TOP+i*LANE;g.fillStyle=i%2?'#fafafa':'#fff';g.fillRect(0,y,W(),LANE);
  worst.fill(-1);
  for(let k=first(ms,t0);k<ms.length&&ms[k][1]<=t1;k++){const m=ms[k];
   const a=Math.max(0,Math.floor(x(m[1]))),b=Math.min(w,Math.floor(x(m[1]+m[2])));
   for(let p=a;p<=b;p++)if(worst[p]<0||D.severity[m[3]]>D.severity[worst[p]])worst[p]=m[3];}
  for(let p=0;p<=w;p++)if(worst[p]>=0){g.fillStyle=colors[worst[p]];g.fillRect(p,y+4,2,LANE-8);}});
}
function at(ev){const r=cv.getBoundingClientRect(),px=ev.clientX-r.left,i=Math.floor((ev.clientY-r.top-TOP)/LANE);
 if(i<0||i>=lanes.length)return null;const ms=lanes[i],t=t0+px/W()*(t1-t0);let k=first(ms,t),best=null,bd=5;
 for(const j of [k-1,k,k+1]){if(j<0||j>=ms.length)continue;const d=Math.abs(x(ms[j][1])-px);if(d<bd){bd=d;best=ms[j];}}return best;}
cv.addEventListener('mousemove',ev=>{if(drag){const dt=(drag.x-ev.clientX)/W()*(t1-t0);t0=drag.t0+dt;t1=drag.t1+dt;draw();return;}
 const m=at(ev);if(!m){tip.style.display='none';return;}
 tip.textContent='post '+D.posts[m[0]]+'  '+(m[1]/1e6).toFixed(6)+' s\n'+D.texts[m[4]]+'\n'+D.texts[m[5]]+'\nline '+m[6]+(m.length>7?'\nmessage→answer '+m[7].toFixed(1)+' µs':'');
 tip.style.display='block';tip.style.left=(ev.clientX+12)+'px';tip.style.top=(ev.clientY+12)+'px';});
cv.addEventListener('mouseleave',()=>{tip.style.display='none';drag=null;});
cv.addEventListener('mousedown',ev=>{drag={x:ev.clientX,t0,t1};});
window.addEventListener('mouseup',()=>{drag=null;});
cv.addEventListener('wheel',ev=>{ev.preventDefault();const r=cv.getBoundingClientRect(),f=ev.deltaY>0?1.25:0.8,
 t=t0+(ev.clientX-r.left)/W()*(t1-t0);t0=t-(t-t0)*f;t1=t+(t1-t)*f;draw();},{passive:false});
cv.addEventListener('dblclick',()=>{[t0,t1]=home;draw();});
window.addEventListener('resize',draw);draw();
})();
)";

struct Colour {
  Outcome outcome;
  const char* css;
  int severity;  // the one drawn where marks share a pixel
};
constexpr Colour kColours[] = {
    {Outcome::Good, "#2e8b57", 1},    {Outcome::Rejected, "#e08a00", 4},
    {Outcome::Failed, "#d03030", 5},  {Outcome::Fault, "#8b008b", 6},
    {Outcome::Refused, "#3070d0", 3}, {Outcome::Ignored, "#999999", 2},
    {Outcome::Setup, "#c8c8c8", 0},
};

}  // namespace

double Percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return NAN;
  std::sort(samples.begin(), samples.end());
  const auto rank =
      static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(samples.size())));
  return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

void WriteTimeline(std::ostream& out, const Trace& trace, const std::vector<Exchange>& exchanges,
                   const ShowFilter& filter) {
  for (const Exchange& e : exchanges) {
    if (filter.post && e.post != *filter.post) continue;
    if (filter.fromUs && e.t < *filter.fromUs) continue;
    if (filter.toUs && e.t > *filter.toUs) continue;
    out << Format("%12.6f", e.t / 1e6) << "  post " << e.post << ' ' << e.text << '\n';
  }
  WriteNotes(out, trace);
}

void WriteSummary(std::ostream& out, const Trace& trace, const std::vector<Exchange>& exchanges) {
  out << "trace of library " << trace.library << ", started " << trace.start << ": "
      << trace.records.size() << " records, " << trace.dropped << " dropped\n";
  for (const auto& [post, s] : Summarize(exchanges)) {
    out << "\npost " << post << '\n';
    out << "  exchanges:";
    for (const auto& [kind, n] : s.byKind) out << "  " << kind << " " << n;
    out << '\n';
    out << "  failures:";
    if (s.failures.empty()) out << "  none";
    for (const auto& [cause, n] : s.failures) out << "  " << cause << " " << n;
    out << '\n';
    if (!s.answerUs.empty()) {
      out << "  message→answer: " << s.answerUs.size() << " answered, p50 "
          << Format("%.1f", Percentile(s.answerUs, 50)) << " µs, p99 "
          << Format("%.1f", Percentile(s.answerUs, 99)) << " µs\n";
    }
  }
  WriteNotes(out, trace);
}

void WriteHtml(std::ostream& out, const Trace& trace, const std::vector<Exchange>& exchanges,
               const std::string& title) {
  std::vector<int> posts;
  for (const Exchange& e : exchanges) posts.push_back(e.post);
  std::sort(posts.begin(), posts.end());
  posts.erase(std::unique(posts.begin(), posts.end()), posts.end());
  std::map<int, std::size_t> laneOf;
  for (std::size_t i = 0; i < posts.size(); ++i) laneOf[posts[i]] = i;

  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>vu30 trace: ";
  Html(out, title);
  out << "</title>\n<style>" << kPageStyle << "</style></head>\n<body>\n<h1>vu30 line trace: ";
  Html(out, title);
  out << "</h1>\n<p class=\"meta\">library ";
  Html(out, trace.library);
  out << ", started ";
  Html(out, trace.start);
  out << "; " << trace.records.size() << " records, " << exchanges.size() << " exchanges, "
      << trace.dropped << " dropped";
  for (const std::string& note : trace.notes) {
    out << "; ";
    Html(out, note);
  }
  out << ". Wheel: zoom; drag: move; double click: all.</p>\n<div class=\"legend\">";
  for (const Colour& c : kColours) {
    out << "<span><i style=\"background:" << c.css << "\"></i>" << OutcomeName(c.outcome)
        << "</span>";
  }
  out << "</div>\n<div id=\"view\"><div id=\"lanes\">\n";
  for (int post : posts)
    out << "<div class=\"lane\" data-post=\"" << post << "\">post " << post << "</div>\n";
  out << "</div><canvas id=\"chart\"></canvas></div>\n<div id=\"tip\"></div>\n";

  // The data: texts once each, marks as [lane, t, dur, colour, text, detail, line(, answer)].
  std::unordered_map<std::string, std::size_t> textIndex;
  std::vector<const std::string*> texts;
  const auto indexOf = [&](const std::string& s) {
    const auto [it, added] = textIndex.emplace(s, texts.size());
    if (added) texts.push_back(&it->first);
    return it->second;
  };
  const double t0 = exchanges.empty() ? 0 : exchanges.front().t;
  double t1 = t0;
  for (const Exchange& e : exchanges) t1 = std::max(t1, e.t + e.dur);
  out << "<script type=\"application/json\" id=\"trace-data\">{\"t0\":" << Format("%.3f", t0)
      << ",\"t1\":" << Format("%.3f", t1) << ",\"colors\":[";
  for (std::size_t i = 0; i < std::size(kColours); ++i)
    out << (i ? "," : "") << '"' << kColours[i].css << '"';
  out << "],\"severity\":[";
  for (std::size_t i = 0; i < std::size(kColours); ++i)
    out << (i ? "," : "") << kColours[i].severity;
  out << "],\"posts\":[";
  for (std::size_t i = 0; i < posts.size(); ++i) out << (i ? "," : "") << posts[i];
  out << "],\"marks\":[";
  bool firstMark = true;
  for (const Exchange& e : exchanges) {
    std::size_t colour = 0;
    while (kColours[colour].outcome != e.outcome) ++colour;
    out << (firstMark ? "" : ",\n") << '[' << laneOf[e.post] << ',' << Format("%.3f", e.t) << ','
        << Format("%.3f", e.dur) << ',' << colour << ',' << indexOf(e.text) << ','
        << indexOf(e.detail) << ',' << (e.lines.empty() ? 0 : e.lines.front());
    if (e.answerUs) out << ',' << Format("%.3f", *e.answerUs);
    out << ']';
    firstMark = false;
  }
  out << "],\"texts\":[";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i) out << ",\n";
    Json(out, *texts[i]);
  }
  out << "]}</script>\n<script>" << kPageScript << "</script>\n</body></html>\n";
}

}  // namespace vu30::trace
