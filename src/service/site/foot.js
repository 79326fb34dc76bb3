$(function () {
  var $top = $('#gotop');
  $(window).on('scroll', function () {
    if ($(this).scrollTop() > 400) { $top.fadeIn(200); } else { $top.fadeOut(200); }
  });
  $top.on('click', function () { $('html,body').animate({scrollTop: 0}, 300); });
  $('#pairForm').on('submit', function (e) {
    e.preventDefault();
    var a = $(this).find('[name=a]').val(), b = $(this).find('[name=b]').val();
    location.href = '/astro/pair/' + a + '-' + b + '/';
  });
  $('.share a').on('click', function () {
    var t = encodeURIComponent(document.title), u = encodeURIComponent(location.href);
    window.open($(this).data('url').replace('{t}', t).replace('{u}', u), '_blank',
                'width=620,height=450');
    return false;
  });
  $('.comments form').on('submit', function () {
    if ($.trim($(this).find('textarea').val()).length < 5) {
      alert('评论内容至少五个字哦');
      return false;
    }
  });
});
$(function () {
  var $day = $('#pickDay');
  if (!$day.length) { return; }
  function pad(n) { return n < 10 ? '0' + n : '' + n; }
  function parse(text) {
    var m = /^(\d{4})-(\d{1,2})-(\d{1,2})$/.exec($.trim(text));
    if (!m) { return null; }
    var d = new Date(+m[1], +m[2] - 1, +m[3]);
    return d.getMonth() === +m[2] - 1 ? d : null;
  }
  $('#pickGo').on('click', function () {
    var d = parse($day.val());
    if (!d) { alert('请按 2024-03-11 的格式输入日期'); $day.focus(); return; }
    var base = $(this).closest('form').attr('action');
    location.href = base + d.getFullYear() + pad(d.getMonth() + 1) + pad(d.getDate());
  });
  $day.on('keydown', function (e) { if (e.keyCode === 13) { $('#pickGo').click(); return false; } });
});
$(function () {
  var $nav = $('#nav'), top = $nav.offset().top;
  $(window).on('scroll', function () {
    $nav.toggleClass('fixed', $(this).scrollTop() > top);
  });
  $('#subnav a').each(function () {
    if (this.pathname === location.pathname) { $(this).addClass('on'); }
  });
});
var _stat = _stat || [];
_stat.push(['page', location.pathname]);
_stat.push(['ref', document.referrer]);
(function () {
  var s = document.createElement('script');
  s.async = true;
  s.src = '/static/js/stat.js?t=' + Math.floor(new Date().getTime() / 3600000);
  var x = document.getElementsByTagName('script')[0];
  x.parentNode.insertBefore(s, x);
})();
