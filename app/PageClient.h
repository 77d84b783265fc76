#pragma once

// The one configuration of the HTTP client that reads photo pages, shared by the window and
// the command-line fetcher so that both send exactly the same requests.

class TIdHTTP;

// Sets the request fields the page fetch sends (Accept "*/*", the browser-like User-Agent,
// the form Content-Type, Pragma and Cache-Control "no-cache") and turns HandleRedirects on.
// Every other setting keeps the component's default. Sends nothing; never raises.
void ConfigurePageClient(TIdHTTP& client);
