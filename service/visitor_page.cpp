#include "service/visitor_page.h"

#include "service/web_origin.h"

namespace tertulia {

namespace {

constexpr std::string_view kPage = R"HTML(<!DOCTYPE html>
<html lang="es">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Chat con la empresa</title>
<style>
  body { font-family: system-ui, sans-serif; margin: 0; background: #eef1f4; color: #1d2733; }
  main { max-width: 40rem; margin: 2rem auto; background: #fff; border-radius: 8px;
         box-shadow: 0 1px 4px rgba(0,0,0,.15); padding: 1.5rem; }
  h1 { font-size: 1.4rem; margin-top: 0; }
  label { display: block; margin: .6rem 0 .2rem; }
  input[type=text] { width: 100%; box-sizing: border-box; padding: .5rem; font-size: 1rem; }
  button { margin-top: .8rem; padding: .5rem 1.2rem; font-size: 1rem; cursor: pointer; }
  #mensajes { border: 1px solid #ccd3da; border-radius: 6px; height: 20rem; overflow-y: auto;
              padding: .5rem; margin-bottom: .6rem; background: #fafbfc; }
  .linea { margin: .3rem 0; white-space: pre-wrap; overflow-wrap: anywhere; }
  .autor { font-weight: bold; margin-right: .4rem; }
  .operador .autor { color: #0b5cad; }
  .visitante .autor { color: #2d7a2d; }
  #envio { display: flex; gap: .5rem; }
  #envio input { flex: 1; }
  #envio button { margin-top: 0; }
  #error { color: #b00020; min-height: 1.2rem; }
  #estado { color: #555; min-height: 1.2rem; }
  [hidden] { display: none !important; }
  @media (max-width: 480px) {
    main { margin: 0; border-radius: 0; box-shadow: none; padding: 1rem; }
    #mensajes { height: 45vh; }
  }
</style>
</head>
<body>
<main>
  <h1>Chat con la empresa</h1>
  <form id="inicio">
    <label for="empresa" id="rotulo-empresa">Código de la empresa</label>
    <input type="text" id="empresa" name="empresa" maxlength="60" required autocomplete="off">
    <label for="nombre">Su nombre</label>
    <input type="text" id="nombre" name="nombre" maxlength="60" required autocomplete="name">
    <button type="submit" id="abrir">Iniciar conversación</button>
  </form>
  <section id="chat" hidden>
    <div id="mensajes" aria-live="polite"></div>
    <form id="envio">
      <input type="text" id="texto" maxlength="2000" autocomplete="off"
             placeholder="Escriba su mensaje" aria-label="Mensaje">
      <button type="submit" id="enviar">Enviar</button>
    </form>
    <p id="estado"></p>
  </section>
  <p id="error" role="alert"></p>
</main>
<script>
"use strict";
(function () {
  const $ = (id) => document.getElementById(id);
  let conversacion = null;
  let mostrados = -1;
  let temporizador = null;
  // The conversation's event stream, the lines it has brought, and its failures in a row.
  let fuente = null;
  let lineas = [];
  let fallos = 0;
  // Streams in a row that were given up without ever opening: after two, the page keeps
  // reading every two seconds.
  let sinAbrir = 0;

  function error(texto) { $("error").textContent = texto || ""; }

  async function llamar(metodo, ruta, campos) {
    const opciones = { method: metodo, cache: "no-store" };
    if (campos) opciones.body = new URLSearchParams(campos);
    let respuesta;
    try {
      respuesta = await fetch(ruta, opciones);
    } catch (e) {
      throw new Error("No se puede contactar con el servicio.");
    }
    let datos = {};
    try { datos = await respuesta.json(); } catch (e) { /* respuesta sin JSON */ }
    if (!respuesta.ok) throw new Error(datos.error || ("Error " + respuesta.status + "."));
    return datos;
  }

  function pintar(mensajes) {
    if (mensajes.length === mostrados) return;
    const caja = $("mensajes");
    const abajo = caja.scrollTop + caja.clientHeight >= caja.scrollHeight - 4;
    caja.replaceChildren();
    for (const m of mensajes) {
      const linea = document.createElement("div");
      linea.className = "linea " + m.autor;
      const autor = document.createElement("span");
      autor.className = "autor";
      autor.textContent = m.autor === "operador" ? "Operador:" : "Usted:";
      const texto = document.createElement("span");
      texto.className = "texto";
      texto.textContent = m.texto;
      linea.append(autor, texto);
      caja.append(linea);
    }
    mostrados = mensajes.length;
    if (abajo) caja.scrollTop = caja.scrollHeight;
  }

  function cerrada() {
    clearInterval(temporizador);
    temporizador = null;
    if (fuente) fuente.close();
    fuente = null;
    $("texto").disabled = true;
    $("enviar").disabled = true;
    $("estado").textContent = "El operador ha cerrado la conversación. Gracias por escribirnos.";
    sessionStorage.removeItem("conversacion");
  }

  async function actualizar() {
    if (!conversacion) return;
    try {
      const datos = await llamar("GET", "/api/conversaciones/" + conversacion.id +
                                 "?token=" + encodeURIComponent(conversacion.token));
      pintar(datos.mensajes);
      error("");
      if (!datos.abierta) {
        cerrada();
      } else if (temporizador !== null && sinAbrir < 2 && typeof EventSource === "function") {
        // The service answers again after it was away: back to its stream, which goes on
        // after the lines just read.
        clearInterval(temporizador);
        temporizador = null;
        seguir(datos.mensajes);
      }
    } catch (e) {
      error(e.message);
    }
  }

  function empezar(datos, enfocar) {
    conversacion = datos;
    sessionStorage.setItem("conversacion", JSON.stringify(datos));
    $("inicio").hidden = true;
    $("chat").hidden = false;
    $("estado").textContent = "Conversación abierta. Un operador le atenderá en breve.";
    // A page of the site that reopens the chat in its frame must keep the focus on its own
    // content.
    if (enfocar || window.parent === window) $("texto").focus();
    seguir();
  }

  // Reads the conversation every two seconds.
  function sondear() {
    actualizar();
    temporizador = setInterval(actualizar, 2000);
  }

  // Follows the conversation through its event stream, each line as it comes (a reconnection
  // resumes after the last line; `conocidas`, lines the page already shows, are not shown
  // again when the stream sends them). A stream that fails twice in a row without bringing a
  // line, or that the browser gives up, leaves the page to reading every two seconds until a
  // read succeeds: then it follows a new stream, unless two streams in a row never opened (a
  // service without streams, a proxy that does not carry them).
  function seguir(conocidas) {
    if (typeof EventSource !== "function") { sondear(); return; }
    lineas = conocidas ? conocidas.slice() : [];
    fallos = 0;
    let abrio = false;
    fuente = new EventSource("/api/conversaciones/" + conversacion.id + "/eventos?token=" +
                             encodeURIComponent(conversacion.token));
    fuente.addEventListener("open", () => {
      abrio = true;
      sinAbrir = 0;
    });
    fuente.addEventListener("mensaje", (evento) => {
      fallos = 0;
      if (Number(evento.lastEventId) <= lineas.length) return;
      lineas.push(JSON.parse(evento.data));
      pintar(lineas);
      error("");
    });
    fuente.addEventListener("cerrada", cerrada);
    fuente.addEventListener("error", () => {
      if (!fuente) return;
      ++fallos;
      if (fallos < 2 && fuente.readyState !== EventSource.CLOSED) return;
      fuente.close();
      fuente = null;
      if (!abrio) ++sinAbrir;
      sondear();
    });
  }

  $("inicio").addEventListener("submit", async (evento) => {
    evento.preventDefault();
    error("");
    $("abrir").disabled = true;
    try {
      const datos = await llamar("POST", "/api/conversaciones",
                                 { empresa: $("empresa").value.trim(),
                                   nombre: $("nombre").value.trim() });
      empezar({ id: datos.id, token: datos.token }, true);
    } catch (e) {
      error(e.message);
    } finally {
      $("abrir").disabled = false;
    }
  });

  $("envio").addEventListener("submit", async (evento) => {
    evento.preventDefault();
    const texto = $("texto").value.trim();
    if (!texto || !conversacion) return;
    try {
      await llamar("POST", "/api/conversaciones/" + conversacion.id + "/mensajes",
                   { token: conversacion.token, texto: texto });
      $("texto").value = "";
      error("");
      if (!fuente) actualizar();
    } catch (e) {
      error(e.message);
    }
  });

  const parametros = new URLSearchParams(location.search);
  $("empresa").value = parametros.get("empresa") || "";
  // In the chat button's frame the company is given: the visitor sees only the name to type,
  // and Escape goes to the page around it, which closes the frame.
  if (window.parent !== window) {
    if ($("empresa").value) {
      $("empresa").hidden = true;
      $("rotulo-empresa").hidden = true;
    }
    document.addEventListener("keydown", (evento) => {
      if (evento.key === "Escape") window.parent.postMessage("tertulia:cerrar", "*");
    });
    // The button, opened by the visitor, asks for the focus for the field to type in.
    window.addEventListener("message", (evento) => {
      if (evento.source === window.parent && evento.data === "tertulia:foco") {
        (conversacion ? $("texto") : $("nombre")).focus();
      }
    });
  }
  const guardada = sessionStorage.getItem("conversacion");
  if (guardada) {
    try { empezar(JSON.parse(guardada), false); } catch (e) { sessionStorage.removeItem("conversacion"); }
  }
})();
</script>
</body>
</html>
)HTML";

}  // namespace

std::string_view VisitorPage() {
    return kPage;
}

std::string VisitorPagePolicy(const std::vector<std::string>& allowedSites) {
    std::string ancestors = "'self'";
    for (const std::string& site : allowedSites) {
        if (SiteOrigin(site) == site) ancestors += " " + site;
    }
    return "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
           "connect-src 'self'; form-action 'none'; frame-ancestors " +
           ancestors + "; base-uri 'none'";
}

}  // namespace tertulia
