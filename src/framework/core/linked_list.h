// The run's singly linked lists (time series, elevation series, pumps, wells, analyzers): each
// is one head pointer with records chained through a `next` member. Appending keeps reading
// order; freeing releases every record from the head and leaves the head null.
#pragma once

// Appends `node` at the tail of the list that starts at `head`.
template <class T, T* T::*Next = &T::next>
void list_append(T*& head, T* node) {
  T** link = &head;
  while (*link != nullptr) link = &((*link)->*Next);
  *link = node;
}

// Releases every record of the list, from the head, and clears the head.
template <class T, T* T::*Next = &T::next>
void list_free(T*& head) {
  while (head != nullptr) {
    T* node = head;
    head = node->*Next;
    delete node;
  }
}
