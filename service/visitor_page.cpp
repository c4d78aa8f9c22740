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
  input[type=text], textarea { width: 100%; box-sizing: border-box; padding: .5rem;
                               font: inherit; font-size: 1rem; }
  fieldset { border: 1px solid #ccd3da; border-radius: 6px; margin: .8rem 0 0; }
  legend { font-weight: bold; }
  .botones { display: flex; gap: .5rem; }
  #escribiendo { color: #555; font-style: italic; min-height: 1.2rem; margin: 0 0 .4rem; }
  #ausentes { font-weight: bold; }
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
  <h1 id="titulo">Chat con la empresa</h1>
  <form id="inicio">
    <p id="ausentes" role="status" hidden>En este momento no hay nadie conectado. Déjenos su mensaje y cómo contactarle.</p>
    <label for="empresa" id="rotulo-empresa">Código de la empresa</label>
    <input type="text" id="empresa" name="empresa" maxlength="60" required autocomplete="off">
    <label for="nombre">Su nombre</label>
    <input type="text" id="nombre" name="nombre" maxlength="60" required autocomplete="name">
    <div id="fuera" hidden>
      <label for="contacto">Correo o teléfono</label>
      <input type="text" id="contacto" name="contacto" maxlength="100" autocomplete="email">
      <label for="aviso">Su mensaje</label>
      <textarea id="aviso" name="aviso" maxlength="2000" rows="4"></textarea>
    </div>
    <button type="submit" id="abrir">Iniciar conversación</button>
  </form>
  <p id="gracias" role="status" hidden></p>
  <section id="chat" hidden>
    <div id="mensajes" role="log" aria-live="polite" aria-label="Conversación"></div>
    <p id="escribiendo" aria-live="polite"></p>
    <form id="envio">
      <input type="text" id="texto" maxlength="2000" autocomplete="off"
             placeholder="Escriba su mensaje" aria-label="Mensaje">
      <button type="submit" id="enviar">Enviar</button>
    </form>
    <p id="estado" role="status"></p>
    <button type="button" id="terminar">Terminar la conversación</button>
    <form id="valoracion" hidden>
      <fieldset>
        <legend>¿Le hemos ayudado?</legend>
        <label for="comentario">Comentario (opcional)</label>
        <textarea id="comentario" maxlength="500" rows="3"></textarea>
        <div class="botones">
          <button type="submit" id="si" value="si">Sí</button>
          <button type="submit" id="no" value="no">No</button>
        </div>
      </fieldset>
    </form>
    <p id="opinion" role="status"></p>
  </section>
  <p id="error" role="alert"></p>
</main>
<script>
"use strict";
(function () {
  const $ = (id) => document.getElementById(id);
  const parametros = new URLSearchParams(location.search);
  const enMarco = window.parent !== window;
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
  // The company's name and whether an operator is there, once the service has said so (null
  // for a service that does not say it: the page then opens conversations as it always did).
  let presencia = null;
  let tituloBase = document.title;
  // Lines that came while the tab was hidden, counted in the tab's title until it is seen.
  let sinVer = 0;
  let avisoEscribiendo = 0;
  let relojEscribiendo = null;
  let terminando = false;
  let abierta = false;

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

  function titular() {
    document.title = (sinVer > 0 ? "(" + sinVer + ") " : "") + tituloBase;
  }

  function callarEscribiendo() {
    clearTimeout(relojEscribiendo);
    relojEscribiendo = null;
    $("escribiendo").textContent = "";
  }

  function pintar(mensajes) {
    if (mensajes.length === mostrados) return;
    if (mostrados >= 0 && mensajes.length > mostrados) {
      callarEscribiendo();
      if (document.hidden) {
        sinVer += mensajes.length - mostrados;
        titular();
      }
    }
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
    if (abierta && mensajes.some((m) => m.autor === "operador")) {
      $("estado").textContent = "Le atiende un operador";
    }
  }

  // Ends the page's part in the conversation: with the question after the operator's close,
  // or with the visitor's own closing message when the visitor ended it.
  function cerrada() {
    clearInterval(temporizador);
    temporizador = null;
    if (fuente) fuente.close();
    fuente = null;
    abierta = false;
    callarEscribiendo();
    $("texto").disabled = true;
    $("enviar").disabled = true;
    $("terminar").hidden = true;
    sessionStorage.removeItem("conversacion");
    if (terminando) {
      $("estado").textContent = "Ha terminado la conversación. Gracias por escribirnos.";
      return;
    }
    $("estado").textContent = "El operador ha cerrado la conversación. Gracias por escribirnos.";
    if ($("valoracion").hidden && !$("opinion").textContent) {
      $("valoracion").hidden = false;
      $("comentario").focus();
    }
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
    abierta = true;
    sessionStorage.setItem("conversacion", JSON.stringify(datos));
    $("inicio").hidden = true;
    $("chat").hidden = false;
    $("estado").textContent = presencia && presencia.atendida
        ? "Conversación abierta. Un operador le atenderá en breve." : "Conversación abierta.";
    // A page of the site that reopens the chat in its frame must keep the focus on its own
    // content.
    if (enfocar || !enMarco) $("texto").focus();
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
    // The operator types: shown for 5 s, each event renewing it.
    fuente.addEventListener("escribiendo", () => {
      $("escribiendo").textContent = "El operador está escribiendo…";
      clearTimeout(relojEscribiendo);
      relojEscribiendo = setTimeout(callarEscribiendo, 5000);
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

  // Where the chat was started, where that page was reached from and the browser's language.
  // The chat button passes its host page's address and referrer; otherwise the page that led
  // here is the company's page.
  function contexto() {
    const campos = {};
    const valores = { pagina: parametros.get("pagina") || document.referrer,
                      procedencia: parametros.get("procedencia") || "",
                      idioma: navigator.language || "" };
    for (const [clave, valor] of Object.entries(valores)) {
      const limpio = valor.replace(/[\u0000-\u001f\u007f]/g, "").slice(0, 500);
      if (limpio) campos[clave] = limpio;
    }
    return campos;
  }

  async function consultarPresencia(empresa) {
    try {
      const datos = await llamar("GET", "/api/empresas/" + encodeURIComponent(empresa));
      return { nombre: String(datos.nombre || empresa), atendida: datos.atendida === true };
    } catch (e) {
      return null;
    }
  }

  function mostrarEmpresa(datos) {
    presencia = datos;
    $("titulo").textContent = datos.nombre;
    tituloBase = "Chat con " + datos.nombre;
    titular();
    if (enMarco) window.parent.postMessage({ tertulia: "nombre", nombre: datos.nombre }, "*");
    if (!datos.atendida && !conversacion) {
      $("ausentes").hidden = false;
      $("fuera").hidden = false;
      $("contacto").required = true;
      $("aviso").required = true;
      $("abrir").textContent = "Enviar mensaje";
    }
  }

  // Leaves the message with the contact: a conversation as any other, with no stream to
  // follow, since the answer goes by the contact.
  async function dejarMensaje(campos) {
    campos.contacto = $("contacto").value.trim();
    const datos = await llamar("POST", "/api/conversaciones", campos);
    await llamar("POST", "/api/conversaciones/" + datos.id + "/mensajes",
                 { token: datos.token, texto: $("aviso").value.trim() });
    $("inicio").hidden = true;
    $("gracias").hidden = false;
    $("gracias").textContent = "Gracias. Hemos recibido su mensaje y le contestaremos por el " +
                               "medio que nos ha indicado.";
  }

  $("inicio").addEventListener("submit", async (evento) => {
    evento.preventDefault();
    error("");
    $("abrir").disabled = true;
    try {
      const empresa = $("empresa").value.trim();
      if (!presencia) {
        const datos = await consultarPresencia(empresa);
        if (datos) {
          mostrarEmpresa(datos);
          // Nobody there: the visitor first sees the form for a message.
          if (!datos.atendida) {
            $("contacto").focus();
            return;
          }
        }
      }
      const campos = Object.assign({ empresa: empresa, nombre: $("nombre").value.trim() },
                                   contexto());
      if (presencia && !presencia.atendida) {
        await dejarMensaje(campos);
        return;
      }
      const datos = await llamar("POST", "/api/conversaciones", campos);
      empezar({ id: datos.id, token: datos.token }, true);
    } catch (e) {
      error(e.message);
    } finally {
      $("abrir").disabled = false;
    }
  });

  $("empresa").addEventListener("input", () => { presencia = null; });

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

  // The operator is told the visitor types, at most every two seconds.
  $("texto").addEventListener("input", () => {
    if (!conversacion || !abierta || !$("texto").value.trim()) return;
    const ahora = Date.now();
    if (ahora - avisoEscribiendo < 2000) return;
    avisoEscribiendo = ahora;
    llamar("POST", "/api/conversaciones/" + conversacion.id + "/escribiendo",
           { token: conversacion.token }).catch(() => { /* only a hint: never an error */ });
  });

  $("terminar").addEventListener("click", async () => {
    if (!conversacion || !abierta) return;
    terminando = true;
    try {
      await llamar("POST", "/api/conversaciones/" + conversacion.id + "/terminar",
                   { token: conversacion.token });
      error("");
      cerrada();
    } catch (e) {
      terminando = false;
      error(e.message);
    }
  });

  $("valoracion").addEventListener("submit", async (evento) => {
    evento.preventDefault();
    const ayudado = evento.submitter ? evento.submitter.value : "";
    if (!ayudado || !conversacion) return;
    $("si").disabled = true;
    $("no").disabled = true;
    try {
      await llamar("POST", "/api/conversaciones/" + conversacion.id + "/valoracion",
                   { token: conversacion.token, ayudado: ayudado,
                     comentario: $("comentario").value.trim().slice(0, 500) });
      error("");
      $("valoracion").hidden = true;
      $("opinion").textContent = "Gracias por su opinión.";
    } catch (e) {
      error(e.message);
      $("si").disabled = false;
      $("no").disabled = false;
    }
  });

  document.addEventListener("visibilitychange", () => {
    if (!document.hidden && sinVer > 0) {
      sinVer = 0;
      titular();
    }
  });

  $("empresa").value = parametros.get("empresa") || "";
  // A company named by the address needs no field: the visitor sees only the name to type.
  if ($("empresa").value) {
    $("empresa").hidden = true;
    $("rotulo-empresa").hidden = true;
  }
  // In the chat button's frame Escape goes to the page around it, which closes the frame.
  if (enMarco) {
    document.addEventListener("keydown", (evento) => {
      if (evento.key === "Escape") window.parent.postMessage("tertulia:cerrar", "*");
    });
    // The button, opened by the visitor, asks for the focus for the field to type in.
    window.addEventListener("message", (evento) => {
      if (evento.source === window.parent && evento.data === "tertulia:foco") {
        (conversacion ? $("texto") : $("nombre")).focus();
      }
    });
  } else {
    $("nombre").focus();
  }
  const guardada = sessionStorage.getItem("conversacion");
  if (guardada) {
    try { empezar(JSON.parse(guardada), false); } catch (e) { sessionStorage.removeItem("conversacion"); }
  }
  if ($("empresa").value) {
    consultarPresencia($("empresa").value).then((datos) => { if (datos) mostrarEmpresa(datos); });
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
