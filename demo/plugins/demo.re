name=Demo Comic
filename=demo
start=127.0.0.1:8765/comic/1.html
next=@<a href="([^"]*)" rel="next">@$1
images=@<img src="([^"]*)" class="strip">@$1
title=@<h1 class="title">([^<]*)</h1>@$1
urls=Demo site=127.0.0.1:8765/
