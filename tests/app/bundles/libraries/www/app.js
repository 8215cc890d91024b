// The page's module: imports a library published as ES modules and a module of its own, and
// changes the document.
import { nanoid } from "./lib/nanoid/index.browser.js";
import { greet, checks } from "./greeting.js";

const note = document.querySelector("p.note");
note.textContent = greet("a module");
note.id = nanoid(12);

function report() {
  const failed = Object.keys(checks).filter((name) => {
    try { return !checks[name](); } catch (e) { return true; }
  });
  const total = Object.keys(checks).length;
  console.log("libraries: module: the note says \"" + document.querySelector("p.note").textContent +
              "\", its id has " + document.getElementById(note.id).id.length + " characters");
  console.log("libraries: checks: " + (total - failed.length) + " of " + total + " pass" +
              (failed.length ? " (failing: " + failed.join(", ") + ")" : ""));
  const items = Array.from(document.querySelectorAll("body > ul > li"), (li) => li.textContent);
  console.log("libraries: the document now lists " + items.join(", ") + " and says \"" +
              document.querySelector("body > p").textContent + "\"");
  console.log("libraries: done");
}

// Modules run before the document's ready event, so wait for jQuery's work as well.
function whenJqueryDone() {
  if (window.jqueryDone) report();
  else setTimeout(whenJqueryDone, 10);
}
whenJqueryDone();
