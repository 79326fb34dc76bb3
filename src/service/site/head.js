var SITE = {root: '/', img: '/static/img/', api: '/api/', version: '20240311'};
(function () {
  var ua = navigator.userAgent.toLowerCase();
  var mobile = /iphone|ipod|android.*mobile|windows phone|mobile safari/.test(ua);
  if (mobile && location.search.indexOf('pc=1') < 0 && !/(^|; )pc=1/.test(document.cookie)) {
    var m = location.pathname.replace(/^\/astro\//, '/m/astro/');
    if (m !== location.pathname) { location.replace(m + location.search); }
  }
})();
