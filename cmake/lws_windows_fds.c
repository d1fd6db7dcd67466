/* The sockets' events (lws_windows_event_loop.cmake) */

/*
 * pt->events[0] is the cancel event. Each of the first
 * LWS_WIN_OWN_EVENTS slots of pt->fds has an event of its own,
 * pt->events[slot + 1], so a wake names its socket; the slots after them
 * share the last event, and a wake of that one asks each of them.
 */
#define LWS_WIN_OWN_EVENTS (WSA_MAXIMUM_WAIT_EVENTS - 2)

WSAEVENT
lws_win_slot_event(struct lws_context_per_thread *pt, int slot)
{
	return pt->events[slot < LWS_WIN_OWN_EVENTS ? slot + 1 :
						WSA_MAXIMUM_WAIT_EVENTS - 1];
}

static int
lws_win_event_select(struct lws_context_per_thread *pt,
		     struct lws_pollfd *pfd)
{
	long e = LWS_POLLHUP | FD_CONNECT | FD_ACCEPT | FD_CLOSE | FD_WRITE;

	/*
	 * On windows, FD_WRITE is only coming to indicate that we are writable
	 * again after being choked.  So we must always listen for it.
	 */

	if (pfd->events & LWS_POLLIN)
		e |= FD_READ;

	if (WSAEventSelect(pfd->fd, lws_win_slot_event(pt,
					(int)(pfd - pt->fds)), e)) {
		lwsl_err("WSAEventSelect() failed with error %d\n", LWS_ERRNO);
		return 1;
	}

	return 0;
}

void
lws_plat_insert_socket_into_fds(struct lws_context *context, struct lws *wsi)
{
	struct lws_context_per_thread *pt = &context->pt[(int)wsi->tsi];

	if (wsi->udp) {
		lwsl_info("%s: UDP\n", __func__);
		pt->fds[pt->fds_count].events |= LWS_POLLIN;
	}

	pt->fds[pt->fds_count++].revents = 0;

	lws_plat_change_pollfd(context, wsi, &pt->fds[pt->fds_count - 1]);
}

void
lws_plat_delete_socket_from_fds(struct lws_context *context,
						struct lws *wsi, int m)
{
	struct lws_context_per_thread *pt = &context->pt[(int)wsi->tsi];
	int last = (int)pt->fds_count - 1;

	/*
	 * The last socket has just been moved into slot m: select it onto
	 * that slot's event, or it is never heard again. Selecting anew
	 * clears what it had recorded, so its new event is set to have it
	 * looked at once; the event of its own it leaves is cleared.
	 */
	if (m != last && pt->fds[m].fd != LWS_SOCK_INVALID &&
	    lws_win_slot_event(pt, m) != lws_win_slot_event(pt, last)) {
		lws_win_event_select(pt, &pt->fds[m]);
		WSASetEvent(lws_win_slot_event(pt, m));
		if (last < LWS_WIN_OWN_EVENTS)
			WSAResetEvent(lws_win_slot_event(pt, last));
	}

	pt->fds_count--;
}


int
lws_plat_check_connection_error(struct lws *wsi)
{
	int optVal;
	int optLen = sizeof(int);

	if (getsockopt(wsi->desc.sockfd, SOL_SOCKET, SO_ERROR,
			   (char*)&optVal, &optLen) != SOCKET_ERROR && optVal &&
		optVal != LWS_EALREADY && optVal != LWS_EINPROGRESS &&
		optVal != LWS_EWOULDBLOCK && optVal != WSAEINVAL) {
		   lwsl_debug("Connect failed SO_ERROR=%d\n", optVal);
		   return 1;
	}

	return 0;
}

int
lws_plat_change_pollfd(struct lws_context *context, struct lws *wsi,
		       struct lws_pollfd *pfd)
{
	return lws_win_event_select(&context->pt[(int)wsi->tsi], pfd);
}

