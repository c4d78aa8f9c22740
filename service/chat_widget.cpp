#include "service/chat_widget.h"

#include <string_view>

namespace tertulia {

namespace {

// Styles live in a shadow root so that the page's own styles neither reach nor suffer them.
// Below 480 px the open chat takes the whole screen, as phones need.
constexpr std::string_view kBefore = R"JS((function () {
  "use strict";
  var servicio = ")JS";

constexpr std::string_view kAfter = R"JS(";
  var guion = document.currentScript;
  var empresa = guion && guion.getAttribute("data-empresa");
  if (!empresa || document.getElementById("tertulia-chat")) return;
  var clave = "tertulia-chat-abierto:" + empresa;
  var anfitrion = document.createElement("div");
  anfitrion.id = "tertulia-chat";
  var raiz = anfitrion.attachShadow({ mode: "open" });
  raiz.innerHTML =
    "<style>" +
    ":host{all:initial}" +
    ".boton,.panel{position:fixed;right:16px;bottom:16px;z-index:2147483000}" +
    ".boton{font:600 16px/1 system-ui,sans-serif;padding:14px 20px;border:0;" +
    "border-radius:24px;background:#0b5cad;color:#fff;cursor:pointer;" +
    "box-shadow:0 2px 8px rgba(0,0,0,.3);max-width:calc(100vw - 32px);overflow:hidden;" +
    "text-overflow:ellipsis;white-space:nowrap}" +
    "button:focus-visible{outline:3px solid #ffbf47;outline-offset:2px}" +
    ".panel{width:380px;height:min(600px,calc(100vh - 32px));display:flex;" +
    "flex-direction:column;background:#fff;border-radius:8px;overflow:hidden;" +
    "box-shadow:0 4px 16px rgba(0,0,0,.35)}" +
    ".cabecera{display:flex;align-items:center;justify-content:space-between;" +
    "padding:4px 8px 4px 16px;background:#0b5cad;color:#fff;font:600 16px system-ui,sans-serif}" +
    ".cerrar{border:0;background:none;color:#fff;font:24px/1 system-ui,sans-serif;" +
    "padding:4px 10px;cursor:pointer}" +
    "iframe{flex:1;width:100%;border:0}" +
    "[hidden]{display:none!important}" +
    "@media (max-width:480px){.panel{top:0;left:0;right:0;bottom:0;width:100%;height:100%;" +
    "border-radius:0}}" +
    "</style>" +
    "<button type=\"button\" class=\"boton\" aria-expanded=\"false\" aria-controls=\"panel\">" +
    "Chat</button>" +
    "<div class=\"panel\" id=\"panel\" role=\"dialog\" aria-label=\"Chat con la empresa\" hidden>" +
    "<div class=\"cabecera\"><span class=\"nombre\">Chat</span>" +
    "<button type=\"button\" class=\"cerrar\" aria-label=\"Cerrar el chat\">\u00d7</button></div>" +
    "</div>";
  var boton = raiz.querySelector(".boton");
  var panel = raiz.querySelector(".panel");
  boton.setAttribute("aria-label", "Abrir el chat");
  var marco = null;
  var origen = "";
  var cargado = false;

  // The company's name, once known, on the closed button as in the open chat.
  function nombrar(nombre) {
    boton.textContent = "Chat con " + nombre;
    boton.setAttribute("aria-label", "Abrir el chat con " + nombre);
    raiz.querySelector(".nombre").textContent = nombre;
    panel.setAttribute("aria-label", "Chat con " + nombre);
    if (marco) marco.title = "Chat con " + nombre;
  }

  // The frame's page puts the focus on its field when asked; it can be asked once loaded.
  function enfocarMarco() {
    marco.focus();
    if (cargado) marco.contentWindow.postMessage("tertulia:foco", origen);
  }

  function recordar(abierto) {
    try {
      if (abierto) sessionStorage.setItem(clave, "1"); else sessionStorage.removeItem(clave);
    } catch (e) { /* sin almacenamiento: no se recuerda */ }
  }

  function abrir(enfocar) {
    if (!marco) {
      marco = document.createElement("iframe");
      marco.title = panel.getAttribute("aria-label");
      // The visitor page tells the service where the chat was started: this page and the
      // page that led to it.
      marco.src = servicio + "/?empresa=" + encodeURIComponent(empresa) +
        "&pagina=" + encodeURIComponent(location.href.slice(0, 500)) +
        (document.referrer ?
          "&procedencia=" + encodeURIComponent(document.referrer.slice(0, 500)) : "");
      origen = new URL(marco.src).origin;
      marco.addEventListener("load", function () {
        cargado = true;
        if (!panel.hidden && raiz.activeElement === marco) enfocarMarco();
      });
      panel.appendChild(marco);
    }
    panel.hidden = false;
    boton.hidden = true;
    boton.setAttribute("aria-expanded", "true");
    recordar(true);
    if (enfocar) enfocarMarco();
  }

  function cerrar() {
    panel.hidden = true;
    boton.hidden = false;
    boton.setAttribute("aria-expanded", "false");
    recordar(false);
    boton.focus();
  }

  boton.addEventListener("click", function () { abrir(true); });
  raiz.querySelector(".cerrar").addEventListener("click", cerrar);
  raiz.addEventListener("keydown", function (evento) {
    if (evento.key === "Escape" && !panel.hidden) cerrar();
  });
  // Escape pressed inside the frame reaches the page only as this message; the company's
  // name, once the frame's page knows it, comes the same way.
  window.addEventListener("message", function (evento) {
    if (!marco || evento.source !== marco.contentWindow || evento.origin !== origen) return;
    var datos = evento.data;
    if (datos === "tertulia:cerrar" && !panel.hidden) {
      cerrar();
    } else if (datos && datos.tertulia === "nombre" && typeof datos.nombre === "string") {
      nombrar(datos.nombre);
    }
  });
  // Without the name (the service away, a policy of the page that forbids the request) the
  // button keeps its plain label.
  if (window.fetch) {
    fetch(servicio + "/api/empresas/" + encodeURIComponent(empresa), { credentials: "omit" })
      .then(function (respuesta) { return respuesta.ok ? respuesta.json() : null; })
      .then(function (datos) {
        if (datos && typeof datos.nombre === "string" && datos.nombre) nombrar(datos.nombre);
      })
      .catch(function () { /* la etiqueta sencilla se queda */ });
  }
  (document.body || document.documentElement).appendChild(anfitrion);
  var abierto = false;
  try { abierto = sessionStorage.getItem(clave) === "1"; } catch (e) { /* sin almacenamiento */ }
  if (abierto) abrir(false);
})();
)JS";

}  // namespace

std::string ChatWidgetScript(const std::string& serviceOrigin) {
    std::string script;
    script.reserve(kBefore.size() + serviceOrigin.size() + kAfter.size());
    script += kBefore;
    script += serviceOrigin;
    script += kAfter;
    return script;
}

}  // namespace tertulia
