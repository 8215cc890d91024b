// A module of the page's own.
export function greet(who) {
  return "changed by " + who;
}

export const checks = {
  "URL": () => new URL("../b?x=1#y", "file:///a/c/d").href === "file:///a/b?x=1#y",
  "URLSearchParams": () => new URLSearchParams("a=1&b=two").get("b") === "two",
  "TextEncoder": () => new TextEncoder().encode("é").length === 2,
  "getComputedStyle": () => getComputedStyle(document.querySelector("li.item")).color === "rgb(0, 128, 0)",
  "getBoundingClientRect": () => document.querySelector("h1").getBoundingClientRect().height > 0,
  "DOMParser": () => new DOMParser().parseFromString("<p><b>x</b></p>", "text/html").querySelector("p > b").textContent === "x",
  "innerHTML": () => { const d = document.createElement("div"); d.innerHTML = "<span>a</span><span>b</span>"; return d.children.length === 2; },
  "matchMedia": () => typeof matchMedia("(min-width: 1px)").matches === "boolean",
  "canvas": () => document.createElement("canvas").getContext("2d") !== null,
  "crypto.getRandomValues": () => crypto.getRandomValues(new Uint8Array(4)).length === 4,
  "queueMicrotask": () => typeof queueMicrotask === "function",
  "history.pushState": () => typeof history.pushState === "function",
  "indexedDB": () => typeof indexedDB.open === "function",
};
